// Small helpers shared by the tests of whole manual and batch runs.
#pragma once

#include <cstdio>
#include <string>

// A settings file with the usual four shift factors.
inline std::string setupText(const std::string& runMode, int trajectories, bool probabilities,
                             const std::string& rate = "0.05", bool pause = false) {
  return "# settings\n1 RunMode " + runMode + "\n2 Trajectories " +
         std::to_string(trajectories) + "\n3 RiskFreeRate " + rate +
         "\n4 StepScale 1\n5 Shifts 1.02 0.98 1.01 0.99\n6 PauseAtEnd " + (pause ? "1" : "0") +
         "\n7 WinningProb " + (probabilities ? "1" : "0") + "\n";
}

// The C library's six-digit text, for values whose text has no exponent.
inline std::string g6(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

// ((x + x) + x) + x, the order in which four equal payoffs are summed.
inline double fourTimes(double x) { return ((x + x) + x) + x; }
