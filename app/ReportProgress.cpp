// The window side of a file digest's progress: the per-file bar, the status
// text and the stage label of the main window. Called on the checking thread
// for every 1024-byte chunk, so it only records the state in the run display
// (which the window shows a few dozen times a second) and never waits.
#include <windows.h>

#include "app/RunDisplay.h"
#include "app/Texts.h"
#include "digest/FileDigest.h"
#include "digest/ProgressScale.h"
#include "jobs/JobState.h"
#include "res/resource.h"

// Powers of ten taken off the progress values of the file being digested.
int g_nScaleShift = 0;

namespace {
// The bar's maximum for the file being digested. The control holds its
// position within the range, so a count past the end (the last partial KiB)
// is shown as the end.
int s_rangeMax = 0;

}  // namespace

void ReportProgress(int mode, std::uint64_t value) {
    CRunEvents* const events = ThreadRunEvents();
    if (!events) return;
    if (mode == 0) {
        events->SetText(IDC_STATUS, texts::kInit);
        events->SetText(IDC_STAGE, texts::kStage1);
        // value is the file's size in KiB, from the file the digest holds open.
        const ProgressScale scale = ScaleForKiB(value);
        g_nScaleShift = scale.shift;
        s_rangeMax = scale.range;
        events->SetBarRange(IDC_PROGRESS, scale.range);
        events->SetBarPos(IDC_PROGRESS, 0);
        events->SetText(IDC_STATUS, texts::kReading);
        events->SetText(IDC_STAGE, texts::kStage2);
        return;
    }
    const int pos = ScaledPosition(value, g_nScaleShift);
    events->SetBarPos(IDC_PROGRESS, pos > s_rangeMax ? s_rangeMax : pos);
}
