// A console program's entry point, as Microsoft's exe_main does: runtime set-up, initialisers, main, exit.
#include "crt_internal.h"

#include <windows.h>

extern "C" int main(int argc, char** argv, char** envp);

extern "C" int mainCRTStartup(void)
{
    __security_init_cookie();
    _set_app_type(_crt_console_app);
    if (_configure_narrow_argv(_crt_argv_unexpanded_arguments) != 0 || _initialize_narrow_environment() != 0) {
        ExitProcess(255);
    }
    if (__iobox_run_initialisers() != 0) {
        ExitProcess(255);
    }
    const int result = main(*__p___argc(), *__p___argv(), _get_initial_narrow_environment());
    exit(result); // runs the atexit table (static destructors) and the UCRT's own clean-up
}
