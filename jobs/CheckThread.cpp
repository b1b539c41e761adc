#include "jobs/CheckThread.h"

#include <new>

#include "app/Messages.h"
#include "app/Texts.h"
#include "digest/FileDigest.h"
#include "jobs/FilePath.h"
#include "jobs/JobState.h"
#include "jobs/TargetList.h"
#include "res/resource.h"

namespace {

// The single path of the compact layout.
RunOutcome CheckSingleFile(CheckRun& run) {
    RunOutcome outcome;
    char buffer[256] = {};
    // Opened as the file it is, whatever its name ("nul", "aux.txt").
    const CStringW path = ExtendedPath(run.targets.empty() ? L"" : run.targets[0].path.c_str());
    // Start's check that the path names something, made here and not on the
    // window's thread: on a share that has gone away, looking a name up can
    // take as long as the network does.
    // Its attributes tell, as for a folder test; unlike a folder search,
    // that opens nothing.
    BeginBlockingCall();
    const bool exists =
        run.pathAccepted || (!path.IsEmpty() && ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES);
    if (!EndBlockingCall()) return outcome;
    if (!exists) {
        outcome.badPath = true;
        return outcome;
    }
    const int digested = DigestFile(path, reinterpret_cast<unsigned char*>(buffer), 0);
    if (RunGivenUp()) return outcome;
    if (digested == 1) run.events.SetBarPos(IDC_PROGRESS, 1);
    // Failed, or stopped: a digest of part of the file is no result.
    outcome.completed = digested == 0 && g_bWorking.load() == 1;
    if (outcome.completed) outcome.digest = buffer;
    return outcome;
}

// Every row of the list: the targets are expanded into one row per file,
// then each row is digested in turn.
RunOutcome CheckList(CheckRun& run) {
    RunOutcome outcome;
    CRunEvents& events = run.events;
    std::vector<CStringW> rows;  // the forms the files are opened in
    bool outOfMemory = false;
    if (!ExpandTargetList(run.targets, &rows, &outOfMemory)) return outcome;
    const int count = static_cast<int>(rows.size());
    run.rows = count;
    outcome.rows = count;
    if (outOfMemory) {
        outcome.outOfMemory = true;
        return outcome;
    }

    events.SetText(IDC_LISTSTATUS, texts::kDigesting);
    events.SetBarRange(IDC_TOTALPROGRESS, count);
    char buffer[256] = {};
    CString text;
    for (int i = 0; i < count && g_bWorking.load() == 1;) {
        const CStringW& path = rows[static_cast<size_t>(i)];
        run.row = i;
        const int digested = DigestFile(path, reinterpret_cast<unsigned char*>(buffer), 0);
        if (RunGivenUp()) return outcome;
        if (digested == 0 && g_bWorking.load() == 1) {
            events.SetRowResult(i, buffer);
            events.SetText(IDC_STATUS, texts::kFileDone);
        } else {
            // Unreadable, or stopped inside: what was read is not its digest.
            if (digested == 1) events.SetBarPos(IDC_PROGRESS, 1);
            events.SetRowResult(i, texts::kFailedRow);
            events.SetText(IDC_STATUS, texts::kFileFailed);
        }
        events.SetText(IDC_STAGE, texts::kStage3);
        ++i;
        events.SetBarPos(IDC_TOTALPROGRESS, i);
        text.Format("%d/%d", i, count);
        events.SetText(IDC_LISTCOUNT, text);
    }
    outcome.completed = g_bWorking.load() == 1;
    return outcome;
}

}  // namespace

DWORD WINAPI CheckThreadProc(LPVOID param) {
    const std::shared_ptr<CheckRun> run = *static_cast<std::shared_ptr<CheckRun>*>(param);
    delete static_cast<std::shared_ptr<CheckRun>*>(param);
    SetThreadRunTicket(&run->ticket);
    SetThreadRunEvents(&run->events);

    RunOutcome outcome;
    try {
        outcome = run->compact ? CheckSingleFile(*run) : CheckList(*run);
    } catch (const std::bad_alloc&) {
        // Memory ran out: the run ends as if stopped here, and says why. The
        // rows listed so far stay; the file being read failed.
        if (EndBlockingCall() && !RunGivenUp()) {
            outcome = RunOutcome{};
            outcome.outOfMemory = true;
            if (!run->compact) {
                const int rows = run->rows.load();
                outcome.rows = rows >= 0 ? rows : g_nListed;
                try {
                    if (run->row.load() >= 0) run->events.SetRowResult(run->row.load(), texts::kFailedRow);
                } catch (const std::bad_alloc&) {
                }
            }
        }
    }
    // A run the window gave up is closed already; otherwise the closing
    // event is the run's last record, and the window is told at once.
    if (!RunGivenUp()) {
        run->events.Close(outcome);
        ::PostMessageW(run->window, WM_RUNDISPLAY, 0, 0);
    }
    SetThreadRunEvents(nullptr);
    SetThreadRunTicket(nullptr);
    return 0;
}
