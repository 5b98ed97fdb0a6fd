// Events: manual and auto reset, waits on several, named events shared by
// processes.
#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "platform/event.h"
#include "tests/support/child.h"
#include "tests/support/temp_system.h"

TEST(Event, ManualAndAutoReset) {
  for (bool manual : {true, false}) {
    PlatEvent* e = PlatEventCreate(nullptr, manual, false, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(PlatEventWait(e, 0), WAIT_TIMEOUT);
    ASSERT_EQ(PlatEventSet(e), 0);
    ASSERT_EQ(PlatEventSet(e), 0);
    EXPECT_EQ(PlatEventWait(e, 0), WAIT_OBJECT_0);
    // A manual-reset event stays set; an auto-reset one was taken.
    EXPECT_EQ(PlatEventWait(e, 0), manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT) << manual;
    ASSERT_EQ(PlatEventReset(e), 0);
    EXPECT_EQ(PlatEventWait(e, 10), WAIT_TIMEOUT);
    PlatEventClose(e);
  }
  PlatEvent* set = PlatEventCreate(nullptr, true, true, nullptr);
  EXPECT_EQ(PlatEventWait(set, 0), WAIT_OBJECT_0);
  PlatEventClose(set);
}

TEST(Event, WaitAnyGivesTheFirstSignalledIndex) {
  PlatEvent* a = PlatEventCreate(nullptr, true, false, nullptr);
  PlatEvent* b = PlatEventCreate(nullptr, false, false, nullptr);
  PlatEvent* events[] = {a, nullptr, b};
  EXPECT_EQ(PlatEventWaitAny(events, 3, 10), WAIT_TIMEOUT);
  PlatEventSet(b);
  EXPECT_EQ(PlatEventWaitAny(events, 3, 1000), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(PlatEventWaitAny(events, 3, 0), WAIT_TIMEOUT);
  PlatEventSet(a);
  PlatEventSet(b);
  EXPECT_EQ(PlatEventWaitAny(events, 3, 0), WAIT_OBJECT_0);
  PlatEventClose(a);
  PlatEventClose(b);
}

TQ_CHILD_ROLE(event_setter) {
  PlatEvent* e = PlatEventOpen(args.at(0).c_str(), false);
  if (!e) return 10;
  int rc = PlatEventSet(e) == 0 ? 0 : 11;
  PlatEventClose(e);
  return rc;
}

TQ_CHILD_ROLE(event_waiter) {
  PlatEvent* e = PlatEventOpen(args.at(0).c_str(), false);
  if (!e) return 10;
  uint32_t r = PlatEventWait(e, static_cast<uint32_t>(std::stoi(args.at(1))));
  PlatEventClose(e);
  return r == WAIT_OBJECT_0 ? 0 : 1;
}

TEST(Event, NamedEventsAcrossProcesses) {
  TempSystem sys;
  const char* name = "Global\\/opt/TQ/tqupd-install-event";
  EXPECT_EQ(PlatEventOpen(name, false), nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_FILE_NOT_FOUND);
  PlatEvent* e = PlatEventCreate(name, false, false, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_SUCCESS);
  PlatEvent* again = PlatEventCreate(name, false, false, nullptr);
  EXPECT_EQ(PlatGetLastError(), ERROR_ALREADY_EXISTS);
  PlatEventClose(again);
  // Another process signals; this one wakes.
  EXPECT_EQ(TqWaitChild(TqSpawnChild("event_setter", {name})), 0);
  EXPECT_EQ(PlatEventWait(e, 5000), WAIT_OBJECT_0);
  // Two processes wait on one auto-reset event: one signal wakes exactly one.
  pid_t w1 = TqSpawnChild("event_waiter", {name, "1500"});
  pid_t w2 = TqSpawnChild("event_waiter", {name, "1500"});
  PlatEventSet(e);
  int r1 = TqWaitChild(w1), r2 = TqWaitChild(w2);
  EXPECT_EQ(r1 + r2, 1) << r1 << " " << r2;
  PlatEventClose(e);
  // With the last handle gone, the event no longer exists.
  EXPECT_EQ(PlatEventOpen(name, false), nullptr);
}
