#include <cstdio>
#include <exception>

#include "check.hpp"

int main() {
    using namespace sorvel::test;
    int passed = 0;
    int failed = 0;
    for (const TestCase& test : registry()) {
        failures_in_current_test() = 0;
        current_context().clear();
        try {
            test.run();
        } catch (const std::exception& error) {
            report(__FILE__, __LINE__, std::string("uncaught exception: ") + error.what());
        } catch (...) {
            report(__FILE__, __LINE__, "uncaught non-standard exception");
        }
        if (failures_in_current_test() == 0) {
            ++passed;
        } else {
            ++failed;
            std::fprintf(stderr, "FAILED: %s\n", test.name);
        }
    }
    std::printf("cpp: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
