// keymendc's handler for std::terminate, in place of libstdc++'s own, which
// names the exception's type through the C++ demangler: that alone would be
// a sixth of keymendc.exe, and of every deployment script that carries it.
// This one writes the same lines with the type's name as compiled
// ("St9bad_alloc" for std::bad_alloc) and aborts as libstdc++'s does.
// Linking it into keymendc keeps the library's handler, and the demangler,
// out of the program.
#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <typeinfo>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    static bool terminating = false;
    if (terminating) {
        std::fputs("terminate called recursively\n", stderr);
        std::abort();
    }
    terminating = true;
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type == nullptr) {
        std::fputs("terminate called without an active exception\n", stderr);
        std::abort();
    }
    std::fputs("terminate called after throwing an instance of '", stderr);
    std::fputs(type->name(), stderr);
    std::fputs("'\n", stderr);
    try {
        throw;
    } catch (const std::exception& exception) {
        std::fputs("  what():  ", stderr);
        std::fputs(exception.what(), stderr);
        std::fputs("\n", stderr);
    } catch (...) {
    }
    std::abort();
}

}  // namespace __gnu_cxx
