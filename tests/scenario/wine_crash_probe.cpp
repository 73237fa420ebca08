// Crashes on purpose. Under the build tree's Wine prefix a crash must end the
// program at once with exit code 5, not wait for a debugger; CTest checks it.
int main() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 0;
}
