// Embeds one Diagnosis the way a robot program does.
#include <iostream>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "rclcpp/rclcpp.hpp"

int main(int argc, char** argv) {
  rclcpp::init(argc, argv);
  {
    Diagnosis diagnosis;
    std::cout << "Diagnosis constructed; stream monitoring starts with the first sensor report."
              << std::endl;
  }
  std::cout << "Diagnosis destroyed cleanly." << std::endl;
  rclcpp::shutdown();
  return 0;
}
