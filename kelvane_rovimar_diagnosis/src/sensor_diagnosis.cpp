#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

#include "logger/logger.hpp"

Diagnosis::~Diagnosis() {
  // The node goes first; the publishers it carried are released with the members.
  node_.reset();
}
