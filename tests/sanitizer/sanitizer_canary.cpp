// Commits one fault of the kind named by its argument, then says it survived.
// Run in a sanitizer tree with that tree's test environment, every fault
// must stop it with the sanitizer's report and exit code: proof that the
// suite's sanitizer reports fail their tests.
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The argument count keeps the compiler from proving the faults away.
int HeapOverflow(int n) {
    std::vector<unsigned char> report(static_cast<size_t>(n) * 16);
    unsigned char copy[64] = {};
    std::memcpy(copy, report.data(), report.size() + 1);  // one past the report
    return copy[0];
}

int SignedOverflow(int n) {
    volatile int big = INT_MAX;
    return big + n;
}

int Leak(int n) {
    int* lost = new int[static_cast<size_t>(n) * 8];
    lost[0] = n;
    return lost[0];
}

int Race(int n) {
    int shared = 0;
    std::thread other([&] { shared += n; });
    shared += n;
    other.join();
    return shared;
}

int LockOrderInversion(int n) {
    std::mutex a, b;
    int value = 0;
    {
        std::scoped_lock first(a);
        std::scoped_lock second(b);
        value += n;
    }
    std::thread other([&] {
        std::lock_guard<std::mutex> second(b);
        std::lock_guard<std::mutex> first(a);
        value += n;
    });
    other.join();
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    const char* fault = argc > 1 ? argv[1] : "";
    int result = 0;
    if (std::strcmp(fault, "heap-overflow") == 0) {
        result = HeapOverflow(argc);
    } else if (std::strcmp(fault, "signed-overflow") == 0) {
        result = SignedOverflow(argc);
    } else if (std::strcmp(fault, "leak") == 0) {
        result = Leak(argc);
    } else if (std::strcmp(fault, "race") == 0) {
        result = Race(argc);
    } else if (std::strcmp(fault, "lock-order") == 0) {
        result = LockOrderInversion(argc);
    } else {
        std::fprintf(
            stderr, "usage: sanitizer_canary heap-overflow|signed-overflow|leak|race|lock-order\n");
        return 64;
    }
    // A leak is found at exit, after this line; every other fault stops the
    // program before it.
    std::printf("canary survived %s (%d)\n", fault, result);
    std::fflush(stdout);
    return 0;
}
