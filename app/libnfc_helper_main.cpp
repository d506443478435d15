// virude-libnfc-helper: runs libnfc for one reader session of virude or virude-dump (or lists
// the devices libnfc sees), which start it, send it requests on its standard input and read its
// replies on its standard output. libnfc can abort() or hang on a reader's answer; here that ends
// or stalls only this process, which the program then kills.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "felica/libnfc/helper_server.h"
#include "felica/libnfc/libnfc_device.h"

int main() {
    if (isatty(STDIN_FILENO)) {
        std::fputs("virude-libnfc-helper: started by virude and virude-dump, not by hand\n",
                   stderr);
        return 2;
    }
    // A program that went away shows as a failed write, not as a fatal signal.
    signal(SIGPIPE, SIG_IGN);
    // Ctrl-C in the program's terminal reaches the helper too; the program, which may be
    // finishing a click before it ends, closes the session itself.
    signal(SIGINT, SIG_IGN);
    // Replies go to a copy of standard output; standard output itself becomes standard
    // error, so that nothing a library prints can slip in between the replies.
    const int replies = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (replies < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        return felica::libnfc::kPipeBroken;
    }
    return felica::libnfc::serve_session(STDIN_FILENO, replies, felica::open_libnfc_device,
                                         felica::list_libnfc_devices);
}
