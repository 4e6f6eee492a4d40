// The setup run: prepares the working folder, opens and checks "_Data.001", unpacks the list
// file, checks disk space, unpacks the setup program, the uninstaller and the support files,
// launches the setup program, watches it, and cleans up. Every failure ends the program
// through FatalError. Win32 only; the decisions it takes are in the portable headers beside
// it (diskspace.h, paths.h, filetable.h, digest.h, watchrule.h), its messages beside the
// catalogue (res/failure.h).
//
// Everything runs on the window's thread: StartRun is called from the setup window's
// WM_INITDIALOG and returns once the setup program has been launched or the run has failed;
// after that only OnWatchTimer (from WM_TIMER) does any work.
//
// Steps return nonzero for success and 0 for failure; a failure has always been reported
// (through FatalError) before 0 is returned, so callers only stop.
#ifndef RUN_RUN_H
#define RUN_RUN_H

#if defined(UNICODE) || defined(_UNICODE)
#error "setup.exe is an ANSI program: build it without UNICODE"
#endif

#include <windows.h>

#include "buffers.h"
#include "digest.h"
#include "failure.h"

// Gives the run the instance whose resources hold the message catalogue and the setup window,
// which owns every message box and receives the watch timer. Called by the window's
// initialisation before anything there can fail.
void AttachSetupWindow(HINSTANCE instance, HWND window);

// Loads catalogue text `id` (IDS_...) into text[TEXT_LOAD_SIZE]; returns its length, 0 when
// the text is missing (text is then empty).
int LoadCatalogueText(UINT id, char* text);

// Runs the setup from the working folder's preparation to the launch of the setup program.
// Returns nonzero when the setup program was launched (the watch timer then runs), 0 when
// the run failed (the user has been told and the window told to quit).
int StartRun(HWND window);

// Whether the folder `path` exists: 1 or 0. Works on the caller's string and removes a
// trailing backslash from it. A path without any backslash counts as existing. The search
// also finds files: a file with the folder's name counts as existing.
int DirectoryExists(char* path);

// Ends the run: closes the package if it is open, shows `text` in a message box (error icon,
// OK button, caption IDS_TITLE, owned by the setup window), deletes the list file and the
// support files (CleanUpFiles), ends the dialog and sends the window WM_DESTROY so that the
// message loop quits. Returns 0, so that the failing step can return its result directly.
int FatalError(const char* text);

// Composes the message for a RunFailure (failure.h) with its argument (base name or path, as
// the failure needs) and calls FatalError with it. Returns 0.
int ReportFailure(int failure, const char* arg);

// The corrupt-package message ("... file _Data.001 is corrupted.") through FatalError.
// Returns 0.
int ReportCorruptPackage(void);

// Deletes the support files named in the file table and the list file from the working
// folder, resetting their attributes first so that read-only files go too, and releases the
// file table. Empty slots are skipped, so the working folder itself is never touched. Safe
// to call again: the table is released once, later calls only retry the list file. Does
// nothing before the base name is known. Never touches the setup program or the uninstaller.
void CleanUpFiles(void);

// Reads the next entry record from the open package, inflates it and writes its file data to
// `path`, then applies the stored times and attributes (the uninstaller is always made
// read-only and hidden). When `written` is not NULL, it receives the length and Adler-32 of
// the data written (digest.h). Returns 1; on failure the package has been closed and the
// failure reported (corrupt package, or could not copy `path`), and 0 is returned.
struct FileDigest;
int ExtractEntry(const char* path, struct FileDigest* written);

// The watch of the launched setup program, run on every WM_TIMER of the setup window: hides
// the window while the program runs; when it has ended, stops the timer, deletes the unpacked
// files (all but the uninstaller) and destroys the window, which ends the program.
void OnWatchTimer(HWND window);

#endif
