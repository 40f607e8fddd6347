#include "histquery/readslots.h"

#include <fcntl.h>
#include <unistd.h>

#include <thread>

namespace {

int SlotFile = -2;  // not opened yet
int HeldSlot = -1;

bool OpenSlotFile() {
  if (SlotFile == -2) SlotFile = open(kReadSlotFile, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  return SlotFile >= 0;
}

bool LockSlot(int slot, short type, bool wait = false) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = slot;
  lock.l_len = 1;
  return fcntl(SlotFile, wait ? F_SETLKW : F_SETLK, &lock) == 0;
}

bool Enter(void*) {
  if (!OpenSlotFile()) return true;
  auto until = std::chrono::steady_clock::now() + kReadSlotWait;
  for (;;) {
    for (int slot = 0; slot < kReadSlots; ++slot) {
      if (LockSlot(slot, F_WRLCK)) {
        HeldSlot = slot;
        return true;
      }
    }
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
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
  return OpenSlotFile() && LockSlot(kReadSlots + byte, type, wait);
}
