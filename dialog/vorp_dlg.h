// The main dialog "MATRIX PRODUCT" and the About box.
//
// Start reads the fields, then runs the benchmark on the dialog's worker
// thread while the dialog stays painted and shows a busy indicator. A field
// that fails to read or validate gets its message and the focus, keeps what
// was typed, and no run starts; a value that fails never replaces the last
// good one among the dialog's values. During a
// run the only input is the Cancel button, which reads "Stop" and stops the
// run; Escape and closing the window ask whether to stop the run and quit.
// Report lines reach the list in order; a notice waits for OK before the run
// goes on.
#pragma once

#include "benchmark_run.h"
#include "dialog_layer.h"
#include "run_parameters.h"
#include "worker_thread.h"

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

class CVorp_Dlg : public CDialog, private ReportSink {
public:
    explicit CVorp_Dlg(QWidget* parent = nullptr);
    // Waits for a run in progress, then releases the run's buffers.
    ~CVorp_Dlg() override;

    // A run is in progress on the worker thread.
    bool IsRunning() const { return running_; }

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    void OnCommand(int id) override;
    // Enter in a field reads the fields but keeps the dialog and its report
    // open; only Cancel (Escape, closing the window) ends the dialog.
    void OnOK() override;
    void OnSysCommand(int command) override;
    void OnClose() override;

private:
    void UpdateControls();
    void OnMethodChanged();
    void OnStart();
    void OnReset();
    // Asks the run to stop; it ends within a second with "Stopped".
    void StopRun(const QString& busy_label);
    // After a completed run the dialog's values become those the run used.
    void OnRunFinished(RunOutcome outcome, const RunParameters& used);
    // Called on the worker thread; the line is added on the GUI thread.
    void AppendLine(const std::string& line) override;

    // The fields; `check` is read from its box. After a completed run, the
    // values it used: the chunk, hidden, is never raised again in a session.
    RunParameters params_;
    RunBuffers buffers_;  // touched by the worker thread only, during a run
    QIcon icon_;
    bool running_ = false;
    bool close_pending_ = false;
    WorkerThread worker_;
};
