// Test program entry: runs a child role when asked, else the tests.
#include <gtest/gtest.h>

#include "tests/support/child.h"

int main(int argc, char** argv) {
  int child = TqRunChildIfRequested(argc, argv);
  if (child >= 0) return child;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
