#pragma once
// An X server of the test's own (Xvfb, 640x480, 24 bits), on a display number it picks
// itself; stopped when the object goes. Window tests on every platform run on one.
#include <string>

namespace test_support {

class private_display {
  public:
    private_display();
    ~private_display();
    private_display(const private_display&) = delete;
    private_display& operator=(const private_display&) = delete;

    // ":N" once the server accepts clients; "" when it could not be started.
    const std::string& name() const { return name_; }

  private:
    long server_ = -1;  // the server's process id
    std::string name_;
};

}  // namespace test_support
