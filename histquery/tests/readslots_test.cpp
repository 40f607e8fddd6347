#include "histquery/readslots.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "common/tests/scratchdir.h"

// Two readers whose slices follow each other without a break hold both
// turns; a later request still gets one in time, and neither reader is
// turned away for it.
TEST(ReadSlots, ALaterReaderGetsATurnBetweenSlices) {
#ifdef CCU_TESTS_EMULATED
  GTEST_SKIP() << "the emulator cannot fork; the load test covers turns at large";
#endif
  ScratchDir dir(ScratchDir::Enter::Yes);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t readers[kReadSlots];
  for (pid_t& reader : readers) {
    EXPECT_GE(reader = fork(), 0);
    if (reader != 0) continue;
    for (SliceGate gate = ReadSlotGate(); gate.enter(nullptr); gate.leave(nullptr)) {
      (void)!write(ready[1], "x", 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    _exit(1);
  }
  close(ready[1]);  // a reader that ends unasked ends the wait below
  char byte;
  for (int i = 0; i < kReadSlots; ++i) EXPECT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_TRUE(TakeReadSlot());
  GiveReadSlot();
  std::this_thread::sleep_for(kReadSlotWait / 2);
  for (pid_t reader : readers) {
    if (reader <= 0) continue;
    EXPECT_EQ(waitpid(reader, nullptr, WNOHANG), 0);
    kill(reader, SIGKILL);
    waitpid(reader, nullptr, 0);
  }
}
