#include "histquery/readslots.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "common/tests/scratchdir.h"

namespace {

using std::chrono::milliseconds;

// Two readers that go on slice after slice hold both turns between them;
// one that comes later still gets a turn between two slices, long before
// its wait is over, and so does each reader again after it.
TEST(ReadSlots, ALaterReaderGetsATurnBetweenSlices) {
  ScratchDir dir(ScratchDir::Enter::Yes);
  pid_t readers[kReadSlots];
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  for (pid_t& reader : readers) {
    reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
      SliceGate gate = ReadSlotGate();
      bool told = false;
      for (;;) {
        if (!gate.enter(gate.context)) _exit(1);
        if (!told) told = write(ready[1], "x", 1) == 1;
        std::this_thread::sleep_for(milliseconds(40));
        gate.leave(gate.context);
      }
    }
  }
  char byte;
  for (int i = 0; i < kReadSlots; ++i) ASSERT_EQ(read(ready[0], &byte, 1), 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(TakeReadSlot());
  EXPECT_LT(std::chrono::steady_clock::now() - start, kReadSlotWait);
  std::this_thread::sleep_for(milliseconds(100));
  GiveReadSlot();
  std::this_thread::sleep_for(kReadSlotWait / 2);
  for (pid_t reader : readers) {
    int status = 0;
    // Still reading: none was turned away while this one held its turn.
    EXPECT_EQ(waitpid(reader, &status, WNOHANG), 0);
    kill(reader, SIGKILL);
    waitpid(reader, &status, 0);
  }
  close(ready[0]);
  close(ready[1]);
}

}  // namespace
