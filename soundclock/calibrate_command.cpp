// soundclock calibrate: a card's receive and transmit clocks against one
// reference in one run, with one cable from its output to its input; the
// figures checked against what a bad set-up looks like before they are
// given (calibrate_run.h runs the devices).
#include "soundclock/calibrate_commands.h"
#include "soundclock/calibrate_result.h"
#include "soundclock/calibrate_run.h"
#include "soundclock/commands.h"
#include "soundclock/failure.h"
#include "soundclock/offset_result.h"
#include "soundclock/rate_report.h"
#include "soundclock/reference_result.h"
#include "soundclock/text_format.h"

#include "audio/system_clock.h"

#include <cmath>

namespace {

// Below this peak level (dBFS) the loop is taken, but a word goes with it:
// a 16-bit card then gives it 10 bits, and the burst's timing degrades with
// its SNR.
constexpr double LOW_LOOP_PEAK_DBFS = -40;

std::string NoLoopText(const CalibrationRun& run, const CalibrateOptions& options)
{
    return "no test signal came back on input channel " + std::to_string(options.loopChannel + 1) +
           " (check the cable from the output to that input, the channel, and that the output is not muted): " +
           NoSignalText(run.LoopMeter(), run.RecordRate(), options.signal);
}

std::string NoReferenceText(const CalibrationRun& run, const CalibrateOptions& options)
{
    const ReferenceHeard heard = run.Reference()->Heard();
    return "no usable reference on input channel " + std::to_string(options.channel + 1) + " (" +
           ReferenceWords(options.reference) + "): " +
           (heard.problem.empty() ? "too few " + std::string(EventNoun(options.reference)) : heard.problem);
}

// A half measured against a signal reference, against the same half's
// rate from the system clock's stamps of the same run.
void CompareWithSystem(const char* side, const ClockFigure& figure, const ClockFigure& system, const SystemClockState& clock,
                       std::vector<std::string>& warnings)
{
    if (!figure.valid || !system.valid || AgreesWithin3(figure, system))
        return;
    std::string text = std::string("the ") + side + " clock against the reference, " +
                       FigureText(figure.ppm, figure.uncertaintyPpm, "ppm") + ", and against the system clock, " +
                       FigureText(system.ppm, system.uncertaintyPpm, "ppm") +
                       ", disagree by more than three uncertainties";
    text += clock.sync == ClockSync::Synchronised ? ": check the reference (its frequency, its cable, its channel)"
                                                  : ": the system clock is not synchronised and may be off itself";
    warnings.push_back(text);
}

CalibrationReport ReportOf(const CalibrationRun& run, const CalibrateOptions& options)
{
    CalibrationReport report;
    report.calibration = Combine(run.Receive(), run.Loop());
    report.reference = ReferenceName(options.reference);
    report.referenceWords = ReferenceWords(options.reference);
    report.seconds = run.SecondsRecorded();
    report.partial = run.Partial();
    const SystemClockState clock = ReadSystemClockState();
    if (const ReferenceMeter* reference = run.Reference()) {
        const ReferenceEstimate e = reference->Estimate();
        report.referenceJson.Integer("events_used", e.eventsUsed)
            .Integer("events_missed", e.eventsMissed)
            .Integer("events_rejected", e.eventsRejected)
            .Number("scatter_samples", e.scatterSamples, 6)
            .Integer("steps", e.steps)
            .Bool("steady", e.unsteady.empty());
        report.referenceLine = "the reference: " + std::to_string(e.eventsUsed) + " " + EventNoun(options.reference) + " used (" +
                               std::to_string(e.eventsMissed) + " missed, " + std::to_string(e.eventsRejected) +
                               " rejected), scatter " + Fixed(e.scatterSamples, 4) + " samples" +
                               (e.unsteady.empty() ? "" : "; not steady: " + e.unsteady);
        CompareWithSystem("receive", report.calibration.receive, run.CaptureAgainstSystem(), clock, report.warnings);
        if (run.PlaybackTimed())
            CompareWithSystem("transmit", report.calibration.transmit, run.PlaybackAgainstSystem(), clock, report.warnings);
    } else {
        report.referenceJson.Object("system_clock", SystemClockJson(clock));
        report.referenceLine = SystemClockLine(clock);
        const std::string warning = SystemClockWarning(clock);
        if (!warning.empty())
            report.warnings.push_back(warning);
    }
    const InputSummary loop = run.LoopMeter().Summary();
    if (loop.peakDbfs < LOW_LOOP_PEAK_DBFS)
        report.warnings.push_back("the loop comes back faint, at " + Fixed(loop.peakDbfs, 1) +
                                  " dBFS at its peak: turn the output or the input's gain up, for a finer loop");
    return report;
}

}  // namespace

std::string LoopImplausibleText(const Calibration& c)
{
    return "the loop's offset, " + Fixed(c.loop.ppm, 1, true) + " ppm, is " + Fixed(c.loopExcessPpm, 1, true) +
           " ppm beyond the nominal rates' ratio (" + Fixed(c.loop.recordRate, 0) + " Hz recorded, " + Fixed(c.loop.playRate, 0) +
           " Hz played): more than +-" + Fixed(LOOP_EXCESS_LIMIT_PPM / 1e4, 1) +
           " %, so what comes back is not this card's output (another card's, or through a rate converter)";
}

int CalibrateLive(const CalibrateOptions& options)
{
    const int recordRate = options.recordRate > 0 ? options.recordRate : options.signal.rate;
    const std::string refusal = RecordingRefusal(options.result, options.signal, recordRate);
    if (!refusal.empty())
        return Fail(options.result, refusal);
    CalibrationRun run(options);
    std::string error;
    if (!run.Run(error))
        return Fail(options.result, error);
    const std::string partial = run.Partial();
    const std::string partialNote = partial.empty() ? "" : " (partial: " + partial + ")";
    if (!partial.empty())
        run.Say(partial + "; the result covers what was measured until then", true);
    else if (run.Interrupted())
        run.Say("stopped by Ctrl-C after " + Fixed(run.SecondsRecorded(), 1) + " s");

    if (!run.Loop().valid)
        return Fail(options.result, NoLoopText(run, options) + partialNote);
    if (MostlyClipped(run.LoopMeter()))
        return Fail(options.result, "the loop is clipped: most bursts on input channel " + std::to_string(options.loopChannel + 1) +
                                        " reach full scale; turn the output or the input's gain down and run again" + partialNote);
    if (run.Reference() && !run.Receive().valid)
        return Fail(options.result, NoReferenceText(run, options) + partialNote);
    if (!run.Receive().valid)
        return Fail(options.result, "the capture gave too few clock stamps for its rate against the system clock" + partialNote);
    const CalibrationReport report = ReportOf(run, options);
    if (!report.calibration.loopPlausible)
        return Fail(options.result, LoopImplausibleText(report.calibration) + partialNote);
    for (const std::string& warning : report.warnings)
        run.Say("warning: " + warning, true);
    return PrintCalibration(report, options.result, options.expect);
}

int CalibrateCommand(const CalibrateOptions& options)
{
    if (!options.rateFile.empty())
        return CalibrateFromFiles(options);
    return CalibrateLive(options);
}
