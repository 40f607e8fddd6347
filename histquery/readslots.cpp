#include "histquery/readslots.h"

#include <fcntl.h>
#include <unistd.h>

#include <thread>

namespace {

// Past the turns: a byte on which every process that has waited long for a
// turn holds a shared lock, so that one that reads on can see it.
constexpr int kWaitingByte = kReadSlots;
constexpr std::chrono::milliseconds kPoll{10};
// Mostly a reader that gives back its turn is off computing or writing for
// a moment, and a waiter takes the turn meanwhile; one that has waited this
// long asks the readers to make way.
constexpr std::chrono::milliseconds kLongWait{500};
// Longer than a waiter sleeps between its tries, so that the waiter has the
// turn given back before its reader asks again.
constexpr std::chrono::milliseconds kMakeWay{25};

int SlotFile = -2;  // not opened yet
int HeldSlot = -1;
bool HadTurn = false;

bool OpenSlotFile() {
  if (SlotFile == -2) SlotFile = open(kReadSlotFile, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  return SlotFile >= 0;
}

struct flock ByteLock(int byte, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = 1;
  return lock;
}

bool LockSlot(int slot, short type, bool wait = false) {
  struct flock lock = ByteLock(slot, type);
  return fcntl(SlotFile, wait ? F_SETLKW : F_SETLK, &lock) == 0;
}

// Whether another process holds a lock on the waiting byte.
bool OthersWait() {
  struct flock lock = ByteLock(kWaitingByte, F_WRLCK);
  return fcntl(SlotFile, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

bool TakeFreeSlot() {
  for (int slot = 0; slot < kReadSlots; ++slot) {
    if (LockSlot(slot, F_WRLCK)) {
      HeldSlot = slot;
      HadTurn = true;
      return true;
    }
  }
  return false;
}

bool Enter(void*) {
  if (!OpenSlotFile()) return true;
  // A reader between two slices lets one that has waited long go first: no
  // one waits for whole runs of others.
  if (HadTurn && OthersWait()) std::this_thread::sleep_for(kMakeWay);
  auto start = std::chrono::steady_clock::now();
  bool said = false;
  bool taken;
  while (!(taken = TakeFreeSlot())) {
    auto waited = std::chrono::steady_clock::now() - start;
    if (waited > kReadSlotWait) break;
    if (!said && waited >= kLongWait) said = LockSlot(kWaitingByte, F_RDLCK);
    std::this_thread::sleep_for(kPoll);
  }
  if (said) LockSlot(kWaitingByte, F_UNLCK);
  return taken;
}

void Leave(void*) {
  if (SlotFile < 0 || HeldSlot < 0) return;
  LockSlot(HeldSlot, F_UNLCK);
  HeldSlot = -1;
}

}  // namespace

SliceGate ReadSlotGate() {
  return {Enter, Leave, nullptr};
}

bool TakeReadSlot() {
  return Enter(nullptr);
}

void GiveReadSlot() {
  Leave(nullptr);
}

bool LockSlotFileByte(int byte, short type, bool wait) {
  return OpenSlotFile() && LockSlot(kWaitingByte + 1 + byte, type, wait);
}
