#include "vorp_dlg.h"

#include <QCoreApplication>

#include "method_table.h"
#include "stop.h"
#include "vorp_resources.h"

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(AboutBoxTemplate(), parent) {}

CVorp_Dlg::CVorp_Dlg(QWidget* parent) : CDialog(MainDialogTemplate(), parent) {
    if (CWinApp* app = AfxGetApp()) icon_ = app->LoadIcon();
}

CVorp_Dlg::~CVorp_Dlg() {
    // The worker may be waiting for a notice to be answered on this thread.
    while (running_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ReleaseMatrices(buffers_);
}

void CVorp_Dlg::DoDataExchange(CDataExchange& dx) {
    dx.Radio(IDC_CLASSIC, params_.method);
    dx.Text(IDC_N, params_.n);
    dx.Text(IDC_L_BLOCK, params_.l_block);
    // The count is read aside and kept only once it is in range, so a count
    // the user was just told is invalid can reach no later run.
    std::int32_t threads = params_.threads;
    dx.Text(IDC_THREADS, threads);
    dx.MinMaxInt(threads, kMinThreads, kMaxThreads);
    if (!dx.failed()) params_.threads = threads;
    dx.Text(IDC_CHUNK, params_.chunk);
    dx.Radio(IDC_OPENMP, params_.parallel_kind);
}

bool CVorp_Dlg::OnInitDialog() {
    CDialog::OnInitDialog();
    AppendSystemMenuSeparator();
    AppendSystemMenuItem(IDM_ABOUTBOX, QString::fromUtf8(kAboutMenuText),
                         QKeySequence::HelpContents);
    SetIcon(icon_);
    UpdateControls();
    SetCheck(IDC_CHECK_RESULT, false);
    SetWindowText(QString::fromUtf8(kMainCaption));
    return true;
}

void CVorp_Dlg::OnOK() { UpdateData(true); }

void CVorp_Dlg::OnCommand(int id) {
    if (running_) {
        // During a run the Cancel button reads "Stop" and is the only input.
        if (id == IDCANCEL) StopRun(QStringLiteral("Stopping:"));
        return;
    }
    switch (id) {
        case IDC_START:
            OnStart();
            return;
        case IDC_RESET:
            OnReset();
            return;
        case IDC_CLASSIC:
        case IDC_HP:
        case IDC_BLOCK_CACHE:
        case IDC_BLOCK_PACK_2X2:
        case IDC_VECTOR_PACK:
            OnMethodChanged();
            return;
        default:
            CDialog::OnCommand(id);
    }
}

void CVorp_Dlg::OnClose() {
    if (!running_) {
        CDialog::OnClose();
        return;
    }
    if (close_pending_ || !AfxQuestionBox(QString::fromUtf8(kStopAndQuitQuestion))) return;
    if (!running_) {  // the run ended while the question was open
        EndDialog(IDCANCEL);
        return;
    }
    close_pending_ = true;
    StopRun(QStringLiteral("Stopping, then closing:"));
}

void CVorp_Dlg::StopRun(const QString& busy_label) {
    RequestStop();  // the run returns within a second and counts nothing
    GetDlgItem(IDCANCEL)->setEnabled(false);
    SetBusyLabel(busy_label);
}

void CVorp_Dlg::OnSysCommand(int command) {
    if ((command & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.DoModal();
    } else {
        CDialog::OnSysCommand(command);
    }
}

void CVorp_Dlg::UpdateControls() {
    UpdateData(true);
    if (const MethodEntry* method = FindMethod(params_.method)) {
        GetDlgItem(IDC_L_BLOCK)->setEnabled(method->uses_block);
    }
    UpdateData(false);
}

void CVorp_Dlg::OnMethodChanged() { UpdateControls(); }

void CVorp_Dlg::OnStart() {
    // A field that fails has been pointed at with its message: nothing runs
    // until it is corrected.
    if (!UpdateData(true)) return;
    RunParameters run = params_;
    run.check = GetCheck(IDC_CHECK_RESULT);  // the box cannot change during the run
    ClearStopRequest();
    running_ = true;
    SetDlgItemText(IDCANCEL, QStringLiteral("Stop"));
    BeginBusy(QStringLiteral("Running:"), IDCANCEL);
    worker_.Post([this, run] {
        const RunResult result = RunBenchmark(run, *this, buffers_);
        QMetaObject::invokeMethod(
            this,
            [this, outcome = result.outcome, used = result.parameters] {
                OnRunFinished(outcome, used);
            },
            Qt::QueuedConnection);
    });
}

void CVorp_Dlg::AppendLine(const std::string& line) {
    QMetaObject::invokeMethod(
        this, [this, text = QString::fromStdString(line)] { ListAddString(IDC_REPORT, text); },
        Qt::QueuedConnection);
}

void CVorp_Dlg::OnRunFinished(RunOutcome outcome, const RunParameters& used) {
    running_ = false;
    SetDlgItemText(IDCANCEL, QStringLiteral("Cancel"));
    GetDlgItem(IDCANCEL)->setEnabled(true);
    EndBusy();
    if (outcome == RunOutcome::Completed) {
        // The fields take the values the run used; a lowered chunk stays
        // lowered for the runs after it.
        params_ = used;
        SetDlgItemText(IDC_START, QStringLiteral("Done"));
        GetDlgItem(IDC_START)->setEnabled(false);
        UpdateData(false);
    }
    // After "Alloc Error", "Stopped" or a refused run Start stays as it was
    // and the fields keep what was typed.
    if (close_pending_) EndDialog(IDCANCEL);
}

void CVorp_Dlg::OnReset() {
    UpdateData(true);
    GetDlgItem(IDC_START)->setEnabled(true);
    SetDlgItemText(IDC_START, QStringLiteral("Start"));
    ListResetContent(IDC_REPORT);
    UpdateData(false);
}
