// The main window's run control: Run and Terminate on the run's thread, the end of a run, and
// what the status panels say about the task.
#include "shell/MainWindow.h"

#include "windows/ResultWindows.h"

#include <QLabel>

#include <algorithm>
#include <optional>

namespace zyl {

void TMainForm::RunExecute()
{
    if (!m_run || !m_script || m_task)
        return;
    // A manual task processes one generation per Run from the first Run on, as zyl-batch does:
    // a second generation in the same run would take the values its members inherited from
    // their parents as if they had been typed.
    if (m_settings.functionMode == FunctionMode::Manual)
        m_settings.loopCounter = 1;
    std::optional<RunContext> context;
    try {
        context.emplace(m_run->beginRun());
    } catch (const std::exception& error) {
        showMessage(QStringLiteral("warning"), QString::fromStdString(error.what()));
        return;
    }
    auto* thread = new TaskThread(*context, this, m_run->observer(), this);
    m_task = thread;
    m_run->setRunningTask(&thread->task());
    m_startTime = std::time(nullptr);
    Run->setEnabled(false);
    Options->setEnabled(false);
    Terminate->setEnabled(true);
    m_timer.start();
    Closeall->setEnabled(false);
    m_running = true;
    m_terminateAsked = false;
    updateStandingHint();
    connect(thread, &QThread::finished, this, [this, thread] {
        runEnded();
        thread->deleteLater();
    });
    thread->start();
}

void TMainForm::runEnded()
{
    // The end-of-run handler: a script that asks for it closes the program after every run.
    bool closing = m_closePending;
    if (m_script && m_script->ReadBool("OPTIONS", "close", false)) {
        m_running = false;
        closing = true;
    }
    Closeall->setEnabled(true);
    m_timer.stop();
    Terminate->setEnabled(false);
    Options->setEnabled(true);
    m_run->setRunningTask(nullptr);
    if (const std::optional<RunEndFailure> failure = m_run->endRun(); failure && !failure->reported)
        showMessage(QStringLiteral("warning"), QString::fromStdString(failure->message));
    m_runPanel->setText(runEndText());
    if (m_settings.functionMode == FunctionMode::Manual) {
        m_settings.loopCounter = 1;
        Run->setEnabled(false);
    } else {
        Run->setEnabled(true);
    }
    m_running = false;
    m_task = nullptr;
    updateStandingHint();
    // The windows catch up at display rate during a run; at its end they show everything.
    if (m_windows && !closing)
        m_windows->flush();
    emit runFinished();
    if (closing) {
        // The user has answered for the project already, or the script closes by itself.
        m_closeAgreed = true;
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

QString TMainForm::runEndText() const
{
    // Why the task ended, when a stop rule ended it; a later Run computes nothing more.
    const StopRuleState& stop = m_run->stop();
    if (stop.finished())
        return QStringLiteral("Stop rule: ") + QString::fromStdString(stop.stopReason);
    // A terminated run leaves a generation part evaluated: say which, and how far it got.
    if (m_terminateAsked) {
        const ZYL& zyl = m_run->zyl();
        const auto evaluated =
            std::count_if(zyl.population.begin(), zyl.population.end(),
                          [](const Indiv& individual) { return individual.evaluated; });
        return QStringLiteral("Terminated in generation %1: %2 of %3 evaluated")
            .arg(zyl.generation + 1)
            .arg(evaluated)
            .arg(zyl.population.size());
    }
    return QStringLiteral("Ready.");
}

void TMainForm::TerminateExecute()
{
    if (m_watch) {
        terminateWatchedRun();
        return;
    }
    if (!m_task)
        return;
    m_terminateAsked = true;
    m_run->terminate();
}

const StopRuleState& TMainForm::stopState() const
{
    return m_run ? m_run->stop() : m_watch ? m_watch->stop() : m_noStop;
}

QString TMainForm::generationLimitText(int reached, int limit)
{
    return QStringLiteral("Generation limit reached: %1 of %2").arg(reached).arg(limit);
}

QString TMainForm::manualValuesText()
{
    return QStringLiteral("Type the \"?\" values in Population");
}

void TMainForm::updateStandingHint()
{
    // A Run at the generation limit ends at once and changes nothing, and a manual task waits
    // for the user: both would look like a program that does not react.
    QString text;
    const ZYL* zyl = engine();
    if (zyl && !m_running) {
        const bool awaited =
            std::any_of(zyl->population.begin(), zyl->population.end(),
                        [](const Indiv& individual) { return !individual.evaluated; });
        if (zyl->generation >= zyl->maxIteration)
            text = generationLimitText(zyl->generation, zyl->maxIteration);
        else if (m_settings.functionMode == FunctionMode::Manual && awaited &&
                 !stopState().finished())
            text = manualValuesText();
    }
    // A new message replaces the hint in view; the end of one leaves the hint alone.
    if (!text.isEmpty() || m_hintPanel->text() == m_standing)
        m_hintPanel->setText(text);
    m_standing = text;
}

QString TMainForm::elapsedText(long long e)
{
    const long long days = e / 86400;
    long long r = e % 86400;
    const long long hours = r / 3600;
    r %= 3600;
    const long long minutes = r / 60;
    const long long seconds = r % 60;
    return QStringLiteral("Calculating %1 day(s), %2 hour(s), %3 minute(s), %4 second(s)")
        .arg(days)
        .arg(hours)
        .arg(minutes)
        .arg(seconds);
}

void TMainForm::Timer1Timer()
{
    QString text = elapsedText(static_cast<long long>(std::time(nullptr) - m_startTime));
    if (const ProgramEvaluation* programs = m_run ? m_run->programs() : nullptr) {
        const EvaluationProgress counts = programs->progress();
        text += QStringLiteral("; running %1, queued %2, done %3, failed %4")
                    .arg(counts.running)
                    .arg(counts.queued)
                    .arg(counts.done)
                    .arg(counts.failed);
    }
    m_runPanel->setText(text);
}

} // namespace zyl
