// How many runs read the history at once.
//
// Every request to the report starts a process of its own, and a page on the
// network can send many at once: each read takes a turn, one of kReadSlots,
// for each slice of the store it reads (a free SQL text for its whole run),
// so that a further request waits for the next free turn, at most
// kReadSlotWait, and then answers that the history is busy. A reader that
// asks for its next slice's turn while another has waited long lets it go
// first. The turns are locks on the bytes of a file of the working
// directory, which the system gives back when a process ends, however it
// ends.
#pragma once

#include <chrono>

#include "common/historyreader.h"

constexpr int kReadSlots = 2;
constexpr std::chrono::milliseconds kReadSlotWait{3000};
// Named like the selection files, so that the rules that keep the web server
// from serving them cover it too.
constexpr const char kReadSlotFile[] = "histlock.dat";

// The gate of this process's reads. Where the file cannot be opened (a
// working directory that is not writable) every read goes ahead.
SliceGate ReadSlotGate();

// Takes a turn for a whole run (a free text); false when none came free in
// time.
bool TakeReadSlot();
void GiveReadSlot();

// Another lock of the program on a byte of the same file, past the turns:
// one descriptor for all, as a POSIX lock goes with the first descriptor of
// its file that the process closes. False where it cannot be had (or, not
// waiting, is held elsewhere).
bool LockSlotFileByte(int byte, short type, bool wait);
