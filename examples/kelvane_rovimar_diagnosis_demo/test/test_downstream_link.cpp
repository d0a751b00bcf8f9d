#include <gtest/gtest.h>

#include <type_traits>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

// Built from the installed package only: proves the exported target carries
// every include directory and library a client needs.
TEST(DownstreamPackage, ConstructsAndDestroysADiagnosisFromTheInstalledLibrary) {
  static_assert(!std::is_copy_constructible_v<Diagnosis>);
  auto diagnosis = std::make_unique<Diagnosis>();
  ASSERT_NE(diagnosis, nullptr);
  diagnosis.reset();
}
