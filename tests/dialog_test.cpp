// The dialog layer and the program's dialogs, driven on Qt's offscreen
// platform. Message boxes go to a recorder, so no test waits for a user.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <functional>
#include <vector>

#include "dialog_layer.h"
#include "stop.h"
#include "support/recorders.h"
#include "vorp_app.h"
#include "vorp_dlg.h"
#include "vorp_resources.h"

namespace {
struct ShownMessage {
    QString text;
    QString caption;
    bool on_gui_thread = false;
};

// Records every message box instead of showing it; `on_show` runs inside the
// box, while the code that showed it waits.
class MessageBoxRecorder {
public:
    MessageBoxRecorder()
        : previous_(SetMessageBoxHandler([this](const QString& text, const QString& caption) {
              shown.push_back({text, caption, QThread::currentThread() == qApp->thread()});
              if (on_show) on_show(text);
          })) {}
    ~MessageBoxRecorder() { SetMessageBoxHandler(previous_); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    QStringList Texts() const {
        QStringList texts;
        for (const ShownMessage& message : shown) texts.append(message.text);
        return texts;
    }

    std::vector<ShownMessage> shown;
    std::function<void(const QString&)> on_show;

private:
    MessageBoxHandler previous_;
};

// Processes events for `milliseconds`.
void SpinEvents(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The modal dialog that opens when `open` runs, handed to `inspect` (which
// must close it).
void WithNextModalDialog(const std::function<void()>& open,
                         const std::function<void(QWidget*)>& inspect) {
    bool inspected = false;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        inspected = true;
        inspect(modal);
    });
    open();
    EXPECT_TRUE(inspected);
}

// A bound on waits for what must come, far beyond any machine's pace: it
// only turns a hang into a failure.
constexpr qint64 kHangGuardMs = 120000;

// Holds a run inside its timed product, whatever the machine's speed: from
// the opening of the timed span (the run's first reading of the CPU clock)
// each look at the stop request off the GUI thread waits until a stop is
// requested.
class ProductHeldUntilStop {
public:
    ProductHeldUntilStop() {
        tick_testing::OverrideCpuSource([this] {
            ++cpu_readings_;
            return 0.0;
        });
        stop_testing::WatchStopChecks([this] {
            if (cpu_readings_ != 1 || QThread::currentThread() == qApp->thread()) return;
            held = true;
            QElapsedTimer guard;
            guard.start();
            while (!StopRequested() && guard.elapsed() < kHangGuardMs) QThread::msleep(1);
        });
    }
    ~ProductHeldUntilStop() {
        stop_testing::WatchStopChecks({});
        tick_testing::OverrideCpuSource({});
        ClearStopRequest();
    }
    ProductHeldUntilStop(const ProductHeldUntilStop&) = delete;
    ProductHeldUntilStop& operator=(const ProductHeldUntilStop&) = delete;
    std::atomic<bool> held{false};

private:
    std::atomic<int> cpu_readings_{0};
};

class MainDialog : public ::testing::Test {
protected:
    MainDialog() {
        ShowNoticesInMessageBoxes();
        dlg.Create();
    }
    ~MainDialog() override { SetNoticeHandler({}); }

    QAbstractButton* Button(int id) { return qobject_cast<QAbstractButton*>(dlg.GetDlgItem(id)); }
    void Click(int id) { Button(id)->click(); }
    void Type(int id, const QString& text) { dlg.SetDlgItemText(id, text); }
    QString Text(int id) { return dlg.GetDlgItemText(id); }
    bool Enabled(int id) { return dlg.GetDlgItem(id)->isEnabled(); }
    bool Checked(int id) { return dlg.GetCheck(id); }
    QStringList Report() { return dlg.ListLines(IDC_REPORT); }

    void WaitForRunEnd() {
        QElapsedTimer clock;
        clock.start();
        while (dlg.IsRunning() && clock.elapsed() < kHangGuardMs) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        ASSERT_FALSE(dlg.IsRunning());
    }
    void StartAndWait() {
        Click(IDC_START);
        WaitForRunEnd();
    }
    // Starts a run that `held` keeps inside its timed product, and returns
    // once it is held there with its matrices reported prepared.
    void StartHeldRun(const ProductHeldUntilStop& held) {
        Type(IDC_N, "200");
        Click(IDC_START);
        QElapsedTimer guard;  // only against a hang
        guard.start();
        while ((!held.held || Report().isEmpty()) && guard.elapsed() < kHangGuardMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        ASSERT_TRUE(held.held);
        ASSERT_TRUE(dlg.IsRunning());
    }
    // Processes events until the busy display has been refreshed `count`
    // times more (its timer fired), however long that takes here.
    void WaitForBusyRefreshes(int count) {
        auto* timer = dlg.findChild<QTimer*>(QStringLiteral("busy_timer"));
        ASSERT_NE(timer, nullptr);
        ASSERT_TRUE(timer->isActive());
        int refreshes = 0;
        const QMetaObject::Connection counting =
            QObject::connect(timer, &QTimer::timeout, [&refreshes] { ++refreshes; });
        QElapsedTimer guard;
        guard.start();
        while (refreshes < count && guard.elapsed() < kHangGuardMs) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        QObject::disconnect(counting);
        EXPECT_GE(refreshes, count);
    }
    void ExpectDone() {
        EXPECT_EQ(Text(IDC_START), "Done");
        EXPECT_FALSE(Enabled(IDC_START));
    }
    void ExpectReady() {
        EXPECT_EQ(Text(IDC_START), "Start");
        EXPECT_TRUE(Enabled(IDC_START));
    }
    // After a Start that `id` refused: no run and nothing reported, Start
    // ready, and the field focused with what was typed, all of it selected.
    void ExpectRefusedAt(int id, const QString& typed) {
        EXPECT_FALSE(dlg.IsRunning());
        EXPECT_TRUE(Report().isEmpty()) << Report().join('|').toStdString();
        ExpectReady();
        EXPECT_EQ(Text(id), typed);
        EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(id));
        auto* edit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(id));
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->selectedText(), typed);
    }

    MessageBoxRecorder boxes;
    CVorp_Dlg dlg;
};

// The four lines of a completed run without vectorisation line.
void ExpectRunReport(const QStringList& lines, const QString& ops_line) {
    ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], "Matrices are prepared");
    EXPECT_TRUE(lines[1].startsWith("DURATION:  ")) << lines[1].toStdString();
    EXPECT_EQ(lines[2], ops_line);
    EXPECT_TRUE(lines[3].startsWith("Performance:  ")) << lines[3].toStdString();
}
}  // namespace

TEST_F(MainDialog, StartsWithTheDefaults) {
    EXPECT_EQ(dlg.windowTitle(), "MATRIX PRODUCT: C = A*B;  PLATFORM x64");
    EXPECT_EQ(Text(IDC_N), "2000");
    EXPECT_EQ(Text(IDC_L_BLOCK), "176");
    EXPECT_FALSE(Enabled(IDC_L_BLOCK));
    EXPECT_EQ(Text(IDC_THREADS), "1");
    EXPECT_TRUE(Checked(IDC_CLASSIC));
    for (const int id : {IDC_HP, IDC_BLOCK_CACHE, IDC_BLOCK_PACK_2X2, IDC_VECTOR_PACK}) {
        EXPECT_FALSE(Checked(id)) << id;
    }
    EXPECT_FALSE(Checked(IDC_CHECK_RESULT));
    ExpectReady();
    EXPECT_TRUE(Report().isEmpty());
    // The hidden controls carry chunk and parallel kind.
    EXPECT_EQ(Text(IDC_CHUNK), "100");
    EXPECT_TRUE(Checked(IDC_OPENMP));
    for (const int id : {IDC_CHUNK, IDC_OPENMP, IDC_TBB})
        EXPECT_TRUE(dlg.GetDlgItem(id)->isHidden()) << id;
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(MainDialog, MethodButtonsSwitchTheBlockFieldAndKeepItsValue) {
    Click(IDC_BLOCK_CACHE);
    EXPECT_TRUE(Enabled(IDC_L_BLOCK));
    Type(IDC_L_BLOCK, "64");
    Click(IDC_HP);
    EXPECT_FALSE(Enabled(IDC_L_BLOCK));
    EXPECT_EQ(Text(IDC_L_BLOCK), "64");
    Click(IDC_BLOCK_PACK_2X2);
    EXPECT_TRUE(Enabled(IDC_L_BLOCK));
    Click(IDC_VECTOR_PACK);
    EXPECT_TRUE(Enabled(IDC_L_BLOCK));
    Click(IDC_CLASSIC);
    EXPECT_FALSE(Enabled(IDC_L_BLOCK));
    EXPECT_EQ(Text(IDC_L_BLOCK), "64");
    EXPECT_TRUE(Checked(IDC_CLASSIC));
    EXPECT_FALSE(Checked(IDC_VECTOR_PACK));
}

TEST_F(MainDialog, StartTakesNoInputDuringTheRunThenReportsAndIsDone) {
    Type(IDC_N, "10");
    Click(IDC_START);
    // The run is on the worker thread: the dialog is busy and takes no input
    // but Stop.
    EXPECT_TRUE(dlg.IsRunning());
    EXPECT_TRUE(dlg.IsBusy());
    for (const int id : {IDC_N, IDC_THREADS, IDC_START, IDC_RESET, IDC_CLASSIC, IDC_CHECK_RESULT}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    for (QAction* action : dlg.GetSystemMenu()->actions()) EXPECT_FALSE(action->isEnabled());
    WaitForRunEnd();

    ExpectRunReport(Report(), "OPS:  2000");
    ExpectDone();
    EXPECT_FALSE(dlg.IsBusy());
    // The normalised values: l_block lowered to n, chunk to n / threads.
    EXPECT_EQ(Text(IDC_N), "10");
    EXPECT_EQ(Text(IDC_L_BLOCK), "10");
    EXPECT_EQ(Text(IDC_CHUNK), "10");
    EXPECT_TRUE(Enabled(IDC_N));
    EXPECT_FALSE(Enabled(IDC_L_BLOCK));  // Classic keeps it disabled
    EXPECT_TRUE(boxes.shown.empty());

    Click(IDC_START);  // disabled: nothing happens until Reset
    EXPECT_FALSE(dlg.IsRunning());
    EXPECT_EQ(Report().size(), 4);
}

TEST_F(MainDialog, ResetClearsTheReportAndKeepsFieldsMethodAndCheckBox) {
    Click(IDC_BLOCK_CACHE);
    Type(IDC_N, "30");
    Type(IDC_L_BLOCK, "8");
    Click(IDC_CHECK_RESULT);
    StartAndWait();
    ASSERT_EQ(Report().size(), 4);
    EXPECT_EQ(Text(IDC_N), "24");  // 30 loses its remainder modulo 8
    Click(IDC_RESET);
    ExpectReady();
    EXPECT_TRUE(Report().isEmpty());
    EXPECT_EQ(Text(IDC_N), "24");
    EXPECT_EQ(Text(IDC_L_BLOCK), "8");
    EXPECT_TRUE(Checked(IDC_BLOCK_CACHE));
    EXPECT_TRUE(Checked(IDC_CHECK_RESULT));
    StartAndWait();  // a second run with the check passes silently
    ExpectRunReport(Report(), "OPS:  27648");
    EXPECT_TRUE(boxes.shown.empty()) << boxes.Texts().join('|').toStdString();
}

// What the user has just been told is invalid never runs: Start shows the
// message, gives the field the focus with its text selected, adds nothing to
// the report and stays enabled, with what was typed left in place. Start
// reads the fields in order and stops at the first that fails, so each
// failing field is met in turn; the corrected values then run.
TEST_F(MainDialog, StartRunsNothingWhileAFieldIsInvalid) {
    const QString range = "Please enter an integer between 1 and 128.";
    const QString integer = "Please enter an integer.";
    dlg.show();
    const auto start = [this] {
        Button(IDC_START)->setFocus();  // where a click with the mouse leaves it
        StartAndWait();
    };
    Type(IDC_N, "64");
    for (const QString typed : {"0", "129", "100000"}) {
        SCOPED_TRACE(typed.toStdString());
        boxes.shown.clear();
        Type(IDC_THREADS, typed);
        start();
        EXPECT_EQ(boxes.Texts(), QStringList{range});
        ExpectRefusedAt(IDC_THREADS, typed);
    }

    boxes.shown.clear();
    Type(IDC_N, "12x");
    Type(IDC_THREADS, "abc");
    start();
    ASSERT_EQ(boxes.shown.size(), 1u);  // none for the thread field
    EXPECT_EQ(boxes.shown[0].text, integer);
    EXPECT_EQ(boxes.shown[0].caption, "Vorp");
    ExpectRefusedAt(IDC_N, "12x");

    Type(IDC_N, "12");
    start();
    EXPECT_EQ(boxes.Texts(), QStringList(2, integer));
    ExpectRefusedAt(IDC_THREADS, "abc");

    Type(IDC_THREADS, "3");
    start();
    EXPECT_EQ(boxes.shown.size(), 2u);
    ExpectRunReport(Report(), "OPS:  3456");
    ExpectDone();
    EXPECT_EQ(Text(IDC_THREADS), "3");
    EXPECT_EQ(Text(IDC_CHUNK), "4");  // 12 rows over the 3 threads that ran
}

// After a completed run the dialog holds the values the run used, so the
// chunk, once lowered to n / threads, never grows back in a later run with
// a larger n or fewer threads.
TEST_F(MainDialog, TheChunkARunLoweredNeverGrowsBack) {
    Type(IDC_N, "100");
    Type(IDC_THREADS, "8");
    StartAndWait();
    ExpectDone();
    EXPECT_EQ(Text(IDC_L_BLOCK), "100");  // lowered to n
    EXPECT_EQ(Text(IDC_CHUNK), "12");     // 100 rows over 8 threads

    Click(IDC_RESET);
    Type(IDC_N, "203");
    StartAndWait();
    ExpectDone();
    EXPECT_EQ(Text(IDC_N), "200");     // a multiple of l_block 100
    EXPECT_EQ(Text(IDC_CHUNK), "12");  // not 200 / 8

    Click(IDC_RESET);
    Type(IDC_THREADS, "2");
    StartAndWait();
    ExpectDone();
    EXPECT_EQ(Text(IDC_CHUNK), "12");  // not 100
    EXPECT_TRUE(boxes.shown.empty()) << boxes.Texts().join('|').toStdString();
}

// Enter, the method buttons and Reset read the fields too. A count that fails
// there is reported and not taken, so the buttons that write the fields back
// show the last good count, and no later Start runs the one that failed.
TEST_F(MainDialog, ACountThatFailsOutsideStartReachesNoLaterRun) {
    const QString range = "Please enter an integer between 1 and 128.";
    dlg.show();
    Type(IDC_N, "64");
    Type(IDC_THREADS, "100000");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &enter);
    EXPECT_EQ(boxes.Texts(), QStringList{range});
    EXPECT_EQ(Text(IDC_THREADS), "100000");  // Enter writes nothing back

    Click(IDC_HP);
    EXPECT_EQ(boxes.Texts(), QStringList(2, range));
    EXPECT_TRUE(Checked(IDC_HP));
    EXPECT_EQ(Text(IDC_THREADS), "1");

    StartAndWait();
    EXPECT_EQ(boxes.shown.size(), 2u);
    ExpectRunReport(Report(), "OPS:  524288");
    ExpectDone();
    EXPECT_EQ(Text(IDC_CHUNK), "64");  // all 64 rows on the one thread that ran

    Type(IDC_THREADS, "129");
    Click(IDC_RESET);
    EXPECT_EQ(boxes.Texts(), QStringList(3, range));
    ExpectReady();
    EXPECT_TRUE(Report().isEmpty());
    EXPECT_EQ(Text(IDC_THREADS), "1");
}

TEST_F(MainDialog, AllocErrorLeavesStartEnabledAndTheTypedValues) {
    const long live_before = memory_testing::LiveAllocations();
    Type(IDC_N, "301");
    Type(IDC_THREADS, "5");
    {
        ScopedAllocationFailure second_matrix(2);
        StartAndWait();
    }
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Alloc Error");
    EXPECT_EQ(boxes.shown[0].caption, "Vorp");
    EXPECT_TRUE(boxes.shown[0].on_gui_thread);
    EXPECT_TRUE(Report().isEmpty());
    ExpectReady();
    EXPECT_EQ(Text(IDC_N), "301");
    EXPECT_EQ(Text(IDC_THREADS), "5");
    EXPECT_TRUE(Enabled(IDC_N));
    EXPECT_EQ(memory_testing::LiveAllocations(), live_before);

    StartAndWait();  // the same values run once memory is there
    ExpectDone();
    EXPECT_EQ(Text(IDC_N), "176");
}

TEST_F(MainDialog, ARefusedRunLeavesTheDialogReady) {
    Type(IDC_N, "0");
    StartAndWait();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.startsWith("Invalid parameters"))
        << boxes.shown[0].text.toStdString();
    EXPECT_TRUE(Report().isEmpty());
    ExpectReady();
    EXPECT_EQ(Text(IDC_N), "0");
}

TEST_F(MainDialog, ANoticeHoldsTheRunUntilItIsAnswered) {
    Click(IDC_HP);
    dlg.SetCheck(IDC_TBB, true);  // the hidden parallel kind, as if set by a template change
    Type(IDC_N, "40");
    QStringList lines_at_notice;
    QStringList lines_while_waiting;
    boxes.on_show = [&](const QString&) {
        lines_at_notice = Report();
        SpinEvents(200);  // the worker is blocked: nothing more arrives
        lines_while_waiting = Report();
    };
    StartAndWait();
    ASSERT_EQ(boxes.Texts(), QStringList{"TBB does not support"});
    EXPECT_TRUE(boxes.shown[0].on_gui_thread);  // the worker's notice waits for the GUI thread
    EXPECT_EQ(lines_at_notice, QStringList{"Matrices are prepared"});
    EXPECT_EQ(lines_while_waiting, lines_at_notice);
    ExpectRunReport(Report(), "OPS:  128000");  // the run times and reports after the notice
    ExpectDone();
}

// The report can be taken away whole: Select All, then Copy, from the list's
// context menu or with Ctrl+A and Ctrl+C.
TEST_F(MainDialog, TheWholeReportCanBeSelectedAndCopied) {
    Type(IDC_N, "40");
    StartAndWait();
    auto* list = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_REPORT));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->contextMenuPolicy(), Qt::ActionsContextMenu);
    QAction* select_all = nullptr;
    QAction* copy = nullptr;
    for (QAction* action : list->actions()) {
        if (action->shortcut() == QKeySequence(QKeySequence::SelectAll)) select_all = action;
        if (action->shortcut() == QKeySequence(QKeySequence::Copy)) copy = action;
    }
    ASSERT_NE(select_all, nullptr);
    ASSERT_NE(copy, nullptr);
    QGuiApplication::clipboard()->clear();
    select_all->trigger();
    copy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), Report().join(u'\n') + u'\n');
    EXPECT_EQ(Report().size(), 4);
}

TEST_F(MainDialog, TheRunClockAndTheElapsedDisplayStopWhileANoticeWaits) {
    std::atomic<double> now{50.0};  // seconds, read by the worker and the GUI thread
    tick_testing::OverrideTickSource(
        [&] { return static_cast<double>(static_cast<long long>(now * 1000)); });
    tick_testing::OverrideFineSource([&] { return now.load(); });
    const auto elapsed_text = [this] {
        for (QLabel* label : dlg.findChildren<QLabel*>()) {
            if (!label->isHidden() && label->text().endsWith(" s")) return label->text();
        }
        return QString();
    };
    Click(IDC_HP);
    dlg.SetCheck(IDC_TBB, true);  // HP shows its notice inside the timed span
    Type(IDC_N, "40");
    QString before, after;
    boxes.on_show = [&](const QString&) {
        WaitForBusyRefreshes(1);
        before = elapsed_text();
        now = now + 5.0;  // the user takes five seconds to answer
        WaitForBusyRefreshes(2);
        after = elapsed_text();
    };
    StartAndWait();
    tick_testing::OverrideTickSource({});
    tick_testing::OverrideFineSource({});
    EXPECT_FALSE(before.isEmpty());
    EXPECT_EQ(after, before);  // the display stood still while the box was open
    ASSERT_EQ(Report().size(), 4);
    EXPECT_EQ(Report()[1], "DURATION:  0  s");  // none of the user's time is timed
}

TEST_F(MainDialog, Method4AddsItsVectorisationLine) {
    Click(IDC_VECTOR_PACK);
    Type(IDC_N, "64");
    Type(IDC_L_BLOCK, "32");
    Type(IDC_THREADS, "2");
    Click(IDC_CHECK_RESULT);
    StartAndWait();
    const QStringList lines = Report();
    ASSERT_EQ(lines.size(), 5) << lines.join('|').toStdString();
    EXPECT_TRUE(lines[1].startsWith("vectorization: "));
    EXPECT_EQ(lines[3], "OPS:  524288");
    EXPECT_TRUE(boxes.shown.empty()) << boxes.Texts().join('|').toStdString();
    ExpectDone();
}

// During a run the Cancel button reads "Stop" and is the only input; it
// stops the run at the method's next look at the request, and the dialog
// stays open and Ready with the controls as they were (the disabled l_block
// edit stays disabled).
TEST_F(MainDialog, StopEndsTheRunAndLeavesTheDialogReady) {
    dlg.show();
    const ProductHeldUntilStop held;
    StartHeldRun(held);
    EXPECT_EQ(Text(IDCANCEL), "Stop");
    EXPECT_TRUE(Enabled(IDCANCEL));
    for (const int id : {IDC_START, IDC_RESET, IDC_N, IDC_THREADS, IDC_CLASSIC, IDC_CHECK_RESULT}) {
        EXPECT_FALSE(Enabled(id)) << id;
    }
    Click(IDCANCEL);
    EXPECT_TRUE(StopRequested());
    WaitForRunEnd();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(Report(), (QStringList{"Matrices are prepared", "Stopped"}));
    EXPECT_EQ(Text(IDCANCEL), "Cancel");
    ExpectReady();
    for (const int id : {IDC_RESET, IDC_N, IDC_THREADS, IDC_CLASSIC, IDC_CHECK_RESULT, IDCANCEL}) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    EXPECT_FALSE(Enabled(IDC_L_BLOCK));
    EXPECT_EQ(Text(IDC_N), "200");
}

// Escape or the window's close button during a run asks first: No lets the
// run go on; Yes stops it, and the window closes when the run has ended.
TEST_F(MainDialog, ClosingDuringARunAsksThenStopsAndCloses) {
    QStringList questions;
    bool answer = false;
    const QuestionHandler previous =
        SetQuestionHandler([&](const QString& text, const QString& caption) {
            questions.append(text + " / " + caption);
            return answer;
        });
    dlg.show();
    const ProductHeldUntilStop held;
    StartHeldRun(held);
    dlg.close();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg.IsRunning());
    EXPECT_FALSE(StopRequested());
    EXPECT_TRUE(dlg.isVisible());
    answer = true;
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &escape);
    EXPECT_TRUE(StopRequested());
    EXPECT_TRUE(dlg.isVisible());  // not before the run has ended
    WaitForRunEnd();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), IDCANCEL);
    EXPECT_EQ(Report(), (QStringList{"Matrices are prepared", "Stopped"}));
    EXPECT_EQ(questions, QStringList(2, "A run is in progress. Stop it and quit? / Vorp"));
    SetQuestionHandler(previous);
}

TEST_F(MainDialog, EnterReadsTheFieldsButKeepsTheReportOpen) {
    dlg.show();
    Type(IDC_N, "abc");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &enter);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(boxes.Texts(), QStringList{"Please enter an integer."});
    Type(IDC_N, "100");
    QCoreApplication::sendEvent(&dlg, &enter);
    EXPECT_TRUE(dlg.isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), IDCANCEL);
}

TEST_F(MainDialog, TheAboutEntryIsLastInTheContextMenuAndOpensTheAboutBox) {
    const QList<QAction*> actions = dlg.GetSystemMenu()->actions();
    ASSERT_GE(actions.size(), 2);
    QAction* about = actions.last();
    EXPECT_EQ(about->text(), "&About Vorp...");
    EXPECT_EQ(about->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_TRUE(dlg.actions().contains(about));  // F1 works without the menu
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());

    WithNextModalDialog([&] { about->trigger(); },
                        [](QWidget* box) {
                            EXPECT_EQ(box->windowTitle(), "About Vorp");
                            QStringList texts;
                            for (QLabel* label : box->findChildren<QLabel*>())
                                texts.append(label->text());
                            EXPECT_TRUE(texts.contains("Vorp Version 1.0"));
                            auto* ok = box->findChild<QPushButton*>();
                            ASSERT_NE(ok, nullptr);
                            EXPECT_EQ(ok->text(), "OK");
                            ok->click();
                        });
}

// Every control a user can reach lies inside the window and overlaps no
// other one, and the report list is below the buttons that fill it.
TEST_F(MainDialog, ControlsLieInsideTheWindowWithoutOverlapping) {
    std::vector<std::pair<QWidget*, QRect>> controls;
    for (QWidget* widget : dlg.findChildren<QWidget*>()) {
        const bool reachable = qobject_cast<QAbstractButton*>(widget) ||
                               qobject_cast<QLineEdit*>(widget) ||
                               qobject_cast<QListWidget*>(widget);
        if (!reachable || widget->isHidden()) continue;
        controls.emplace_back(widget, QRect(widget->mapTo(&dlg, QPoint(0, 0)), widget->size()));
    }
    ASSERT_GE(controls.size(), 10u);
    for (std::size_t i = 0; i < controls.size(); ++i) {
        EXPECT_TRUE(dlg.rect().contains(controls[i].second))
            << controls[i].first->objectName().toStdString();
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(controls[i].second.intersects(controls[j].second))
                << controls[i].first->metaObject()->className() << " and "
                << controls[j].first->metaObject()->className();
        }
    }
    EXPECT_GT(dlg.GetDlgItem(IDC_REPORT)->geometry().top(),
              dlg.GetDlgItem(IDC_START)->geometry().bottom());
}

// The report list's frame shows on all four edges; ctest also runs this at
// 144 DPI, where a fractional scale can paint the list over its frame.
TEST_F(MainDialog, TheReportListShowsItsFrameOnEveryEdge) {
    dlg.show();
    QWidget* list = dlg.GetDlgItem(IDC_REPORT);
    const QImage image = list->grab().toImage();
    const QRgb inside = image.pixel(image.width() / 2, image.height() / 2);
    const QRgb around = dlg.grab().toImage().pixel(1, 1);
    const int last_x = image.width() - 1;
    const int last_y = image.height() - 1;
    const std::vector<std::pair<const char*, QPoint>> edges = {{"left", {0, last_y / 2}},
                                                               {"top", {last_x / 2, 0}},
                                                               {"right", {last_x, last_y / 2}},
                                                               {"bottom", {last_x / 2, last_y}}};
    for (const auto& [name, point] : edges) {
        const QRgb edge = image.pixel(point);
        EXPECT_TRUE(edge != inside && edge != around)
            << name << " edge at " << QGuiApplication::primaryScreen()->logicalDotsPerInch()
            << " DPI";
    }
}

TEST_F(MainDialog, EveryVisibleCaptionFitsItsControl) {
    const QFontMetrics metrics(dlg.font());
    for (QAbstractButton* button : dlg.findChildren<QAbstractButton*>()) {
        if (button->isHidden() || qobject_cast<QPushButton*>(button)) continue;
        const bool radio = button->inherits("QRadioButton");
        const int indicator = button->style()->pixelMetric(
            radio ? QStyle::PM_ExclusiveIndicatorWidth : QStyle::PM_IndicatorWidth, nullptr,
            button);
        const int spacing = button->style()->pixelMetric(
            radio ? QStyle::PM_RadioButtonLabelSpacing : QStyle::PM_CheckBoxLabelSpacing, nullptr,
            button);
        EXPECT_LE(indicator + spacing + metrics.horizontalAdvance(button->text()), button->width())
            << button->text().toStdString();
    }
    for (QLabel* label : dlg.findChildren<QLabel*>()) {
        if (label->isHidden() || label->text().isEmpty()) continue;
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width())
            << label->text().toStdString();
    }
    EXPECT_TRUE(
        Text(IDC_VECTOR_PACK)
            .startsWith(
                "Block_cache (kb, jb=1, ib), block registers, vectorization AVX, pack A, B ("));
}

TEST(Application, ShowsTheMainDialogModallyAndEnds) {
    MessageBoxRecorder boxes;
    CVorp_App app;
    WithNextModalDialog([&] { EXPECT_FALSE(app.InitInstance()); },
                        [&](QWidget* dialog) {
                            EXPECT_EQ(dialog->windowTitle(),
                                      "MATRIX PRODUCT: C = A*B;  PLATFORM x64");
                            EXPECT_EQ(app.m_pMainWnd, dialog);
                            EXPECT_FALSE(dialog->windowIcon().isNull());
                            ShowNotice("Check Error");  // notices are message boxes while it runs
                            dialog->close();
                        });
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Check Error");
    EXPECT_EQ(boxes.shown[0].caption, "Vorp");
}

TEST(DialogLayer, IntegerFieldsTakeOnlyWholeNumbersThatFit) {
    EXPECT_EQ(ParseSignedField(" \t42 "), 42);
    EXPECT_EQ(ParseSignedField("+7"), 7);
    EXPECT_EQ(ParseSignedField("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseSignedField("2147483647"), INT32_MAX);
    for (const char* bad : {"", " ", "-", "1e3", "12x", "0x10", "3.0", "2147483648", "-2147483649",
                            "99999999999999999999"}) {
        EXPECT_EQ(ParseSignedField(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(ParseUnsignedField("4294967295"), 4294967295u);
    EXPECT_EQ(ParseUnsignedField("0"), 0u);
    for (const char* bad : {"-1", "-0", "4294967296", "", "1 2"}) {
        EXPECT_EQ(ParseUnsignedField(bad), std::nullopt) << bad;
    }
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppName);
    return RUN_ALL_TESTS();
}
