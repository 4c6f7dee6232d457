// A small dialog framework on Qt Widgets: an application object, dialogs
// built from a DialogTemplate, control access by id, data exchange between
// member variables and controls with validation, and modal message boxes.
// It knows nothing of what the dialogs are for.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QKeySequence>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "dialog_template.h"

class QButtonGroup;
class QLabel;
class QMenu;
class QProgressBar;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
// Commands of the window menu that the framework handles itself.
constexpr int SC_MINIMIZE = 0xF020;
constexpr int SC_CLOSE = 0xF060;

// ---- Application object ----------------------------------------------------

// The one application object, constructed before main; AfxWinMain creates the
// QApplication and calls InitInstance. When InitInstance returns false the
// program ends without entering an event loop.
class CWinApp {
public:
    // `icon_prefix` names the image resources <prefix>-16.png, -32.png and -48.png.
    CWinApp(const char* app_name, const char* desktop_file_name, const char* icon_prefix);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual bool InitInstance() { return true; }
    // Names the organisation under which settings would be kept (none are).
    void SetRegistryKey(const QString& organisation);
    QIcon LoadIcon() const;

    const char* const m_pszAppName;
    const char* const desktop_file_name;
    QWidget* m_pMainWnd = nullptr;

private:
    const char* icon_prefix_;
};

CWinApp* AfxGetApp();
int AfxWinMain(int argc, char** argv);

// ---- Message boxes -------------------------------------------------------

enum class MessageIcon { None, Exclamation };

// Shows a modal message box with an OK button only and the application's
// name as caption, and returns when it is closed. Callable from any thread:
// from another thread it waits until the GUI thread has shown and closed it.
void AfxMessageBox(const QString& text, MessageIcon icon = MessageIcon::None);

// What AfxMessageBox does on the GUI thread. Tests install a recorder; an
// empty handler restores the message box. Returns the handler it replaces.
using MessageBoxHandler = std::function<void(const QString& text, const QString& caption)>;
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Asks `text` in a modal box with Yes and No (Yes is the default, Escape
// answers No) and the application's name as caption; true for Yes. GUI
// thread only. Tests answer through a handler, as for AfxMessageBox.
bool AfxQuestionBox(const QString& text);
using QuestionHandler = std::function<bool(const QString& text, const QString& caption)>;
QuestionHandler SetQuestionHandler(QuestionHandler handler);

// ---- Data exchange ----------------------------------------------------------

// The text of an integer field: optional blanks, an optional sign, decimal
// digits and optional blanks, with a value that fits the type.
std::optional<std::int32_t> ParseSignedField(const QString& text);
std::optional<std::uint32_t> ParseUnsignedField(const QString& text);

class QListWidget;
// The dialog's list box: several lines selectable, Ctrl+A and Ctrl+C (and the
// same two in its context menu) select every line and copy the selection.
QListWidget* NewListBox(QWidget* parent);

class CDialog;

// One pass of UpdateData over the fields of a dialog. When saving, the first
// field that fails to parse or validate shows the standard message, takes
// the focus, and ends the pass: later fields are neither read nor written.
class CDataExchange {
public:
    CDataExchange(CDialog& dialog, bool save_and_validate);
    bool saving() const { return save_; }
    bool failed() const { return failed_; }

    void Text(int id, std::int32_t& value);
    void Text(int id, std::uint32_t& value);
    // The index of the checked button among the radio buttons of the group
    // that starts at `first_id` (-1: none).
    void Radio(int first_id, std::int32_t& index);
    // Validates the value of the field exchanged last.
    void MinMaxInt(std::int32_t value, std::int32_t min, std::int32_t max);

private:
    void Fail(const QString& message);

    CDialog& dialog_;
    const bool save_;
    bool failed_ = false;
    int last_id_ = 0;
};

// ---- Dialogs ---------------------------------------------------------------

class CDialog : public QDialog {
public:
    explicit CDialog(const DialogTemplate& dialog_template, QWidget* parent = nullptr);
    ~CDialog() override;

    // Builds the controls and runs OnInitDialog, without showing the dialog.
    // DoModal does it when it has not been done.
    void Create();
    // Shows the dialog modally; returns the result passed to EndDialog.
    int DoModal();
    void EndDialog(int result);

    // true: reads and validates all fields (false at the first failure);
    // false: writes all fields to the controls.
    bool UpdateData(bool save_and_validate = true);

    QWidget* GetDlgItem(int id) const;
    QString GetDlgItemText(int id) const;
    void SetDlgItemText(int id, const QString& text);
    void SetWindowText(const QString& text);
    void SetIcon(const QIcon& icon);
    void ListAddString(int id, const QString& line);  // at the end; no scrolling
    void ListResetContent(int id);
    QStringList ListLines(int id) const;
    bool GetCheck(int id) const;
    void SetCheck(int id, bool checked);

    // The window menu, opened with a right click on the dialog. It starts
    // with Minimize and Close; commands reach OnSysCommand.
    QMenu* GetSystemMenu() const { return system_menu_; }
    void AppendSystemMenuSeparator();
    void AppendSystemMenuItem(int command, const QString& text, const QKeySequence& shortcut = {});

    // Busy: the inputs but `live_id` (0: none) and the window menu are
    // disabled, and the busy area shows an indicator with `label` and the
    // elapsed seconds. EndBusy enables again exactly what BeginBusy disabled.
    void BeginBusy(const QString& label, int live_id = 0);
    void SetBusyLabel(const QString& label);
    void EndBusy();
    bool IsBusy() const { return busy_; }

    DialogBaseUnits BaseUnits() const { return units_; }

protected:
    virtual void DoDataExchange(CDataExchange& dx) { (void)dx; }
    // Writes the fields to the controls; true lets the framework set the
    // focus to the first tab stop.
    virtual bool OnInitDialog();
    // A click on a button, OK (Enter) or Cancel (the Cancel button, and by
    // default Escape and closing the window).
    virtual void OnCommand(int id);
    // Escape, the window's close button or Close in the window menu; by
    // default the Cancel command.
    virtual void OnClose();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void OnSysCommand(int command);

    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class CDataExchange;

    QWidget* CreateControl(const ControlTemplate& control);
    QButtonGroup* GroupOf(int first_radio_id);
    void SetInitialFocus();
    void UpdateBusyText();

    const DialogTemplate& template_;
    DialogBaseUnits units_;
    bool created_ = false;
    std::map<int, QWidget*> controls_;
    std::map<int, QButtonGroup*> radio_groups_;  // by the id of their first button
    QMenu* system_menu_;
    int default_command_ = IDOK;

    bool busy_ = false;
    QString busy_label_;
    QProgressBar* busy_bar_ = nullptr;
    QLabel* busy_text_ = nullptr;
    double busy_since_ = 0;  // RunFineSeconds() when the work began
    QTimer busy_timer_;
    QPointer<QWidget> focus_before_busy_;
    std::vector<QPointer<QWidget>> disabled_while_busy_;
};
