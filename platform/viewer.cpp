#include "platform/viewer.h"

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

void OpenInViewer(const std::string& hostPath) {
    // Two forks: the intermediate child exits at once, so the viewer is adopted by init and
    // never becomes a zombie of ours, and the run never waits for the viewer itself.
    const pid_t child = fork();
    if (child < 0)
        return;
    if (child == 0) {
        setsid();
        const pid_t viewer = fork();
        if (viewer == 0) {
            const int devNull = open("/dev/null", O_RDWR);
            if (devNull >= 0) {
                dup2(devNull, STDIN_FILENO);
                dup2(devNull, STDOUT_FILENO);
                dup2(devNull, STDERR_FILENO);
                if (devNull > STDERR_FILENO)
                    close(devNull);
            }
            execlp("xdg-open", "xdg-open", hostPath.c_str(), static_cast<char*>(nullptr));
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
}
