#include "dialog_layer.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <cstdio>
#include <limits>
#include <utility>

#include "tick.h"

// ---- Dialog units ---------------------------------------------------------

namespace {
// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}
}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabet_width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(alphabet_width / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const QRect& rect, DialogBaseUnits units) {
    return {MulDiv(rect.x(), units.x, 4), MulDiv(rect.y(), units.y, 8),
            MulDiv(rect.width(), units.x, 4), MulDiv(rect.height(), units.y, 8)};
}

QSize DialogUnitsToPixels(const QSize& size, DialogBaseUnits units) {
    return {MulDiv(size.width(), units.x, 4), MulDiv(size.height(), units.y, 8)};
}

// ---- Application object ----------------------------------------------------

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(const char* app_name, const char* desktop_file, const char* icon_prefix)
    : m_pszAppName(app_name), desktop_file_name(desktop_file), icon_prefix_(icon_prefix) {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

void CWinApp::SetRegistryKey(const QString& organisation) {
    QCoreApplication::setOrganizationName(organisation);
}

QIcon CWinApp::LoadIcon() const {
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        icon.addFile(QStringLiteral("%1-%2.png").arg(icon_prefix_).arg(size), QSize(size, size));
    }
    return icon;
}

CWinApp* AfxGetApp() { return g_app; }

int AfxWinMain(int argc, char** argv) {
    CWinApp* app = AfxGetApp();
    if (!app) {
        std::fputs("no application object\n", stderr);
        return 1;
    }
    QApplication qt_app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(app->m_pszAppName));
    QGuiApplication::setDesktopFileName(QString::fromUtf8(app->desktop_file_name));
    QApplication::setWindowIcon(app->LoadIcon());
    if (!app->InitInstance()) return 0;
    return QApplication::exec();
}

// ---- Message boxes -------------------------------------------------------

namespace {
MessageBoxHandler& CurrentMessageBoxHandler() {
    static MessageBoxHandler handler;
    return handler;
}

void ShowMessageBoxHere(const QString& text, MessageIcon icon) {
    const QString caption = QCoreApplication::applicationName();
    if (const MessageBoxHandler& handler = CurrentMessageBoxHandler()) {
        handler(text, caption);
        return;
    }
    QMessageBox box(icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                    caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}
}  // namespace

void AfxMessageBox(const QString& text, MessageIcon icon) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) {
        QMetaObject::invokeMethod(
            app, [&text, icon] { ShowMessageBoxHere(text, icon); }, Qt::BlockingQueuedConnection);
    } else {
        ShowMessageBoxHere(text, icon);
    }
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    return std::exchange(CurrentMessageBoxHandler(), std::move(handler));
}

namespace {
QuestionHandler& CurrentQuestionHandler() {
    static QuestionHandler handler;
    return handler;
}
}  // namespace

bool AfxQuestionBox(const QString& text) {
    const QString caption = QCoreApplication::applicationName();
    if (const QuestionHandler& handler = CurrentQuestionHandler()) return handler(text, caption);
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QuestionHandler SetQuestionHandler(QuestionHandler handler) {
    return std::exchange(CurrentQuestionHandler(), std::move(handler));
}

// ---- Data exchange ----------------------------------------------------------

namespace {
struct DecimalText {
    bool negative = false;
    std::uint64_t magnitude = 0;  // saturates above every 32-bit value
};

bool IsBlank(QChar c) { return c == u' ' || c == u'\t'; }

std::optional<DecimalText> ParseDecimal(const QString& text) {
    constexpr std::uint64_t kSaturated = std::uint64_t{1} << 40;
    DecimalText result;
    qsizetype i = 0;
    const qsizetype end = text.size();
    while (i < end && IsBlank(text[i])) ++i;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) result.negative = text[i++] == u'-';
    const qsizetype first_digit = i;
    for (; i < end && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        result.magnitude = result.magnitude * 10 + static_cast<unsigned>(text[i].unicode() - u'0');
        if (result.magnitude > kSaturated) result.magnitude = kSaturated;
    }
    if (i == first_digit) return std::nullopt;
    while (i < end && IsBlank(text[i])) ++i;
    if (i != end) return std::nullopt;
    return result;
}
}  // namespace

std::optional<std::int32_t> ParseSignedField(const QString& text) {
    const auto parsed = ParseDecimal(text);
    if (!parsed) return std::nullopt;
    const std::int64_t value = parsed->negative ? -static_cast<std::int64_t>(parsed->magnitude)
                                                : static_cast<std::int64_t>(parsed->magnitude);
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::uint32_t> ParseUnsignedField(const QString& text) {
    const auto parsed = ParseDecimal(text);
    if (!parsed || parsed->negative ||
        parsed->magnitude > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(parsed->magnitude);
}

CDataExchange::CDataExchange(CDialog& dialog, bool save_and_validate)
    : dialog_(dialog), save_(save_and_validate) {}

void CDataExchange::Text(int id, std::int32_t& value) {
    if (failed_) return;
    last_id_ = id;
    if (!save_) {
        dialog_.SetDlgItemText(id, QString::number(value));
    } else if (const auto parsed = ParseSignedField(dialog_.GetDlgItemText(id))) {
        value = *parsed;
    } else {
        Fail(QStringLiteral("Please enter an integer."));
    }
}

void CDataExchange::Text(int id, std::uint32_t& value) {
    if (failed_) return;
    last_id_ = id;
    if (!save_) {
        dialog_.SetDlgItemText(id, QString::number(value));
    } else if (const auto parsed = ParseUnsignedField(dialog_.GetDlgItemText(id))) {
        value = *parsed;
    } else {
        Fail(QStringLiteral("Please enter a positive integer."));
    }
}

void CDataExchange::Radio(int first_id, std::int32_t& index) {
    if (failed_) return;
    last_id_ = first_id;
    QButtonGroup* group = dialog_.GroupOf(first_id);
    if (save_) {
        index = group->checkedId();
        return;
    }
    if (QAbstractButton* button = group->button(index)) {
        button->setChecked(true);
        return;
    }
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) button->setChecked(false);
    group->setExclusive(true);
}

void CDataExchange::MinMaxInt(std::int32_t value, std::int32_t min, std::int32_t max) {
    if (failed_ || !save_ || (value >= min && value <= max)) return;
    Fail(QStringLiteral("Please enter an integer between %1 and %2.").arg(min).arg(max));
}

void CDataExchange::Fail(const QString& message) {
    failed_ = true;
    AfxMessageBox(message, MessageIcon::Exclamation);
    QWidget* control = dialog_.GetDlgItem(last_id_);
    if (!control) return;
    control->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
}

// ---- Dialogs ---------------------------------------------------------------

namespace {
// The selected lines of `list` to the clipboard, one a line.
void CopySelectedLines(QListWidget* list) {
    QStringList lines;
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->isSelected()) lines.append(list->item(row)->text());
    }
    if (!lines.isEmpty()) QGuiApplication::clipboard()->setText(lines.join(u'\n') + u'\n');
}

QAction* ListAction(QListWidget* list, const QString& text, QKeySequence::StandardKey key) {
    auto* action = new QAction(text, list);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetShortcut);
    list->addAction(action);
    return action;
}
}  // namespace

// A list box whose lines can be taken away: Ctrl+A (or "Select All" in its
// context menu) selects every line, Ctrl+C (or "Copy") copies the selected
// ones.
QListWidget* NewListBox(QWidget* parent) {
    auto* list = new QListWidget(parent);
    // A plain one-pixel box in the style's frame colour: the styled frame
    // loses its right and bottom edges at fractional scales such as 144 DPI.
    list->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette palette = list->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Mid));
    list->setPalette(palette);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    QObject::connect(ListAction(list, QObject::tr("Select All"), QKeySequence::SelectAll),
                     &QAction::triggered, list, &QListWidget::selectAll);
    QObject::connect(ListAction(list, QObject::tr("Copy"), QKeySequence::Copy), &QAction::triggered,
                     list, [list] { CopySelectedLines(list); });
    return list;
}

CDialog::CDialog(const DialogTemplate& dialog_template, QWidget* parent)
    : QDialog(parent), template_(dialog_template), system_menu_(new QMenu(this)) {
    QFont dialog_font = QApplication::font();
    dialog_font.setPointSize(template_.point_size);
    setFont(dialog_font);
    units_ = BaseUnitsOf(dialog_font);

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (!parent) flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    setWindowTitle(QString::fromUtf8(template_.caption));
    setFixedSize(DialogUnitsToPixels(template_.size, units_));

    AppendSystemMenuItem(SC_MINIMIZE, QStringLiteral("Mi&nimize"));
    AppendSystemMenuItem(SC_CLOSE, QStringLiteral("&Close"));
    busy_timer_.setParent(this);
    busy_timer_.setObjectName(QStringLiteral("busy_timer"));  // a test waits for its refreshes
    busy_timer_.setInterval(100);
    connect(&busy_timer_, &QTimer::timeout, this, [this] { UpdateBusyText(); });
}

CDialog::~CDialog() = default;

void CDialog::Create() {
    if (created_) return;
    created_ = true;
    QWidget* previous_focusable = nullptr;
    QButtonGroup* radio_group = nullptr;
    for (const ControlTemplate& control : template_.controls) {
        if (control.style & kGroup) radio_group = nullptr;
        QWidget* widget = CreateControl(control);
        if (control.kind == ControlKind::RadioButton) {
            if (!radio_group) {
                radio_group = new QButtonGroup(this);
                radio_groups_[control.id] = radio_group;
            }
            radio_group->addButton(static_cast<QAbstractButton*>(widget),
                                   static_cast<int>(radio_group->buttons().size()));
        }
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previous_focusable) setTabOrder(previous_focusable, widget);
            previous_focusable = widget;
        }
    }
    if (!template_.busy_area.isEmpty()) {
        const QRect area = DialogUnitsToPixels(template_.busy_area, units_);
        const int bar_height = MulDiv(10, units_.y, 8);
        busy_bar_ = new QProgressBar(this);
        busy_bar_->setRange(0, 0);  // no known end: the bar only shows activity
        busy_bar_->setTextVisible(false);
        busy_bar_->setGeometry(area.x(), area.y(), area.width(), bar_height);
        busy_text_ = new QLabel(this);
        busy_text_->setGeometry(area.x(), area.y() + bar_height, area.width(),
                                area.height() - bar_height);
        busy_bar_->hide();
        busy_text_->hide();
    }
    if (OnInitDialog()) SetInitialFocus();
}

QWidget* CDialog::CreateControl(const ControlTemplate& control) {
    const QString caption = QString::fromUtf8(control.caption);
    QWidget* widget = nullptr;
    QAbstractButton* button = nullptr;
    QRect pixels = DialogUnitsToPixels(control.rect, units_);
    switch (control.kind) {
        case ControlKind::Static: {
            auto* label = new QLabel(caption, this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case ControlKind::Icon: {
            constexpr int kIconPixels = 32;
            auto* label = new QLabel(this);
            label->setPixmap(QIcon(caption).pixmap(kIconPixels, kIconPixels));
            pixels.setSize(QSize(kIconPixels, kIconPixels));
            widget = label;
            break;
        }
        case ControlKind::Edit:
            widget = new QLineEdit(this);
            break;
        case ControlKind::PushButton: {
            auto* push = new QPushButton(caption, this);
            push->setAutoDefault(false);
            if (control.style & kDefaultButton) {
                push->setDefault(true);
                default_command_ = control.id;
            }
            widget = button = push;
            break;
        }
        case ControlKind::RadioButton: {
            auto* radio = new QRadioButton(caption, this);
            radio->setAutoExclusive(false);  // its QButtonGroup keeps one checked
            widget = button = radio;
            break;
        }
        case ControlKind::CheckBox:
            widget = button = new QCheckBox(caption, this);
            break;
        case ControlKind::ListBox:
            widget = NewListBox(this);
            break;
    }
    if (button)
        connect(button, &QAbstractButton::clicked, this,
                [this, id = control.id] { OnCommand(id); });
    widget->setGeometry(pixels);
    if (control.style & kHidden) widget->hide();
    if (control.id != IDC_STATIC) controls_[control.id] = widget;
    return widget;
}

QButtonGroup* CDialog::GroupOf(int first_radio_id) { return radio_groups_.at(first_radio_id); }

void CDialog::SetInitialFocus() {
    for (const ControlTemplate& control : template_.controls) {
        if (!(control.style & kTabStop) || (control.style & kHidden)) continue;
        QWidget* widget = GetDlgItem(control.id);
        if (widget && widget->isEnabled()) {
            widget->setFocus();
            return;
        }
    }
}

int CDialog::DoModal() {
    Create();
    return exec();
}

void CDialog::EndDialog(int result) { done(result); }

bool CDialog::UpdateData(bool save_and_validate) {
    CDataExchange dx(*this, save_and_validate);
    DoDataExchange(dx);
    return !dx.failed();
}

QWidget* CDialog::GetDlgItem(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

QString CDialog::GetDlgItemText(int id) const {
    QWidget* widget = GetDlgItem(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    return {};
}

void CDialog::SetDlgItemText(int id, const QString& text) {
    QWidget* widget = GetDlgItem(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
    }
}

void CDialog::SetWindowText(const QString& text) { setWindowTitle(text); }

void CDialog::SetIcon(const QIcon& icon) { setWindowIcon(icon); }

void CDialog::ListAddString(int id, const QString& line) {
    if (auto* list = qobject_cast<QListWidget*>(GetDlgItem(id))) list->addItem(line);
}

void CDialog::ListResetContent(int id) {
    if (auto* list = qobject_cast<QListWidget*>(GetDlgItem(id))) list->clear();
}

QStringList CDialog::ListLines(int id) const {
    QStringList lines;
    if (auto* list = qobject_cast<QListWidget*>(GetDlgItem(id))) {
        for (int row = 0; row < list->count(); ++row) lines.append(list->item(row)->text());
    }
    return lines;
}

bool CDialog::GetCheck(int id) const {
    auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id));
    return button && button->isChecked();
}

void CDialog::SetCheck(int id, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id))) button->setChecked(checked);
}

void CDialog::AppendSystemMenuSeparator() { system_menu_->addSeparator(); }

void CDialog::AppendSystemMenuItem(int command, const QString& text, const QKeySequence& shortcut) {
    QAction* action = system_menu_->addAction(text);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        addAction(action);  // the shortcut works while the menu is closed
    }
    connect(action, &QAction::triggered, this, [this, command] { OnSysCommand(command); });
}

void CDialog::BeginBusy(const QString& label, int live_id) {
    busy_ = true;
    busy_label_ = label;
    focus_before_busy_ = focusWidget();
    for (const auto& [id, widget] : controls_) {
        const bool input =
            qobject_cast<QLineEdit*>(widget) || qobject_cast<QAbstractButton*>(widget);
        if (!input || id == live_id || !widget->isEnabled()) continue;
        widget->setEnabled(false);
        disabled_while_busy_.emplace_back(widget);
    }
    for (QAction* action : system_menu_->actions()) action->setEnabled(false);
    busy_since_ = RunFineSeconds();
    UpdateBusyText();
    if (busy_bar_) {
        busy_bar_->show();
        busy_text_->show();
    }
    busy_timer_.start();
}

void CDialog::SetBusyLabel(const QString& label) {
    busy_label_ = label;
    UpdateBusyText();
}

void CDialog::EndBusy() {
    busy_ = false;
    busy_timer_.stop();
    if (busy_bar_) {
        busy_bar_->hide();
        busy_text_->hide();
    }
    for (const QPointer<QWidget>& widget : disabled_while_busy_) {
        if (widget) widget->setEnabled(true);
    }
    disabled_while_busy_.clear();
    for (QAction* action : system_menu_->actions()) action->setEnabled(true);
    if (focus_before_busy_ && focus_before_busy_->isEnabled()) focus_before_busy_->setFocus();
}

void CDialog::UpdateBusyText() {
    if (!busy_text_) return;
    // The run clock: it stands still while a notice waits for the user.
    const double seconds = RunFineSeconds() - busy_since_;
    busy_text_->setText(QStringLiteral("%1 %2 s").arg(busy_label_).arg(seconds, 0, 'f', 1));
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::OnCommand(int id) {
    if (id == IDOK) OnOK();
    if (id == IDCANCEL) OnCancel();
}

void CDialog::OnOK() {
    if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnSysCommand(int command) {
    if (command == SC_MINIMIZE) showMinimized();
    if (command == SC_CLOSE) OnClose();
}

void CDialog::OnClose() { OnCommand(IDCANCEL); }

void CDialog::reject() { OnClose(); }

void CDialog::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (!enter || modifiers != Qt::NoModifier) {
        QDialog::keyPressEvent(event);
        return;
    }
    // Enter presses the focused push button, or else the default command.
    auto* focused_button = qobject_cast<QPushButton*>(focusWidget());
    if (focused_button && focused_button->isEnabled()) {
        focused_button->click();
    } else {
        OnCommand(default_command_);
    }
}

void CDialog::contextMenuEvent(QContextMenuEvent* event) {
    if (busy_) return;
    system_menu_->exec(event->globalPos());
}
