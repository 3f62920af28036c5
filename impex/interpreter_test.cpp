#include "impex/interpreter.h"

#include <gtest/gtest.h>

TEST(Interpreter, CommandTable) {
  const int expected[4][4] = {
      // Account, Cert, Parameters, Server
      {6, 9, 12, 15},   // Add
      {7, 10, -1, 16},  // Del
      {8, -1, 12, -1},  // Modify
      {-1, -1, -1, -1}, // Store
  };
  for (int action = 0; action < 4; ++action)
    for (int kind = 0; kind < 4; ++kind)
      EXPECT_EQ(Interpreter::CommandFor(action, kind), expected[action][kind]) << action << "," << kind;
  EXPECT_EQ(Interpreter::CommandFor(4, 0), -1);
  EXPECT_EQ(Interpreter::CommandFor(0, -1), -1);
}
