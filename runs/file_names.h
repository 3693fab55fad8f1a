// The names of every file the program opens, in its working directory.
#pragma once

namespace empricer {

constexpr const char* kSettingsFileName = "Setup.txt";
constexpr const char* kDistributionFileName = "dist.csv";
constexpr const char* kBatchFileName = "batch.csv";
constexpr const char* kResultFileName = "Batch_Result.csv";
constexpr const char* kTemporaryFileName = "VelmarTemp.txt";

}  // namespace empricer
