// Times one program from its spawn to the mapping of its first top-level window on the X server,
// then closes that window the way a window manager would (WM_DELETE_WINDOW) and reports the
// program's peak resident memory. Prints: <milliseconds to map> <peak RSS in KiB> <exit status>.
//
// Usage: startup_probe <settle-ms> <program> [arguments...]
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

long windowPid(Display *display, Window window, Atom pidAtom)
{
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long remaining = 0;
    unsigned char *data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &items, &remaining,
                           &data) == Success &&
        data && items == 1 && format == 32)
        pid = static_cast<long>(*reinterpret_cast<unsigned long *>(data));
    if (data)
        XFree(data);
    return pid;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <settle-ms> <program> [arguments...]\n", argv[0]);
        return 2;
    }
    const int settleMs = std::atoi(argv[1]);
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::_Exit(127);
    }

    Window shown = None;
    double mapMs = -1;
    while (shown == None) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != MapNotify)
            continue;
        // Qt sets _NET_WM_PID before mapping; windows of other clients are skipped.
        if (windowPid(display, event.xmap.window, pidAtom) == child) {
            mapMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            shown = event.xmap.window;
        }
    }

    // Let start-up work that follows the first show finish before closing.
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = shown;
    close.xclient.message_type = protocols;
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(deleteWindow);
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, shown, False, NoEventMask, &close);
    XFlush(display);

    int status = 0;
    rusage usage{};
    pid_t done = 0;
    for (int waited = 0; waited < 100; ++waited) { // at most 10 s, then it is killed
        done = wait4(child, &status, WNOHANG, &usage);
        if (done == child)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (done != child) {
        kill(child, SIGKILL);
        wait4(child, &status, 0, &usage);
    }
    std::printf("%.1f %ld %d\n", mapMs, usage.ru_maxrss,
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    XCloseDisplay(display);
    return 0;
}
