// The loopback HTTP fixture (tests/http/server.py) for case files that read KEL_TEST_URL:
// started once by the driver, stopped when the driver ends.
#pragma once
#include <string>

namespace kel::cases {

// Starts the fixture and sets KEL_TEST_URL to its base URL; false (with a message in why)
// when it cannot be started. Nothing is started when KEL_TEST_URL is already set.
bool start_http_fixture(const std::string& script, std::string& why);
// Closes the fixture's input (it stops by itself on that) and waits for it.
void stop_http_fixture();

}  // namespace kel::cases
