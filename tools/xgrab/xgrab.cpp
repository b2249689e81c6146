// xgrab: reads the root window of an X display at a steady rate and writes raw
// top-down frames (32 bits per pixel as the server keeps them: B, G, R, X) to
// standard output or a file. Used to make benchmark and test clips.
//   xgrab -r FPS -n FRAMES [-g X,Y,W,H] [-o FILE]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  int fps = 10, frames = 0, gx = 0, gy = 0, gw = 0, gh = 0;
  const char* out_path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-r" && i + 1 < argc) {
      fps = std::atoi(argv[++i]);
    } else if (a == "-n" && i + 1 < argc) {
      frames = std::atoi(argv[++i]);
    } else if (a == "-g" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%d,%d,%d,%d", &gx, &gy, &gw, &gh) != 4) return 2;
    } else if (a == "-o" && i + 1 < argc) {
      out_path = argv[++i];
    } else {
      std::fprintf(stderr, "usage: xgrab -r FPS -n FRAMES [-g X,Y,W,H] [-o FILE]\n");
      return 2;
    }
  }
  if (fps <= 0 || frames <= 0) return 2;
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) {
    std::fprintf(stderr, "xgrab: cannot open the display\n");
    return 1;
  }
  const int screen = DefaultScreen(dpy);
  const Window root = RootWindow(dpy, screen);
  if (gw == 0) gw = DisplayWidth(dpy, screen) - gx;
  if (gh == 0) gh = DisplayHeight(dpy, screen) - gy;
  if (DefaultDepth(dpy, screen) != 24 || !XShmQueryExtension(dpy)) {
    std::fprintf(stderr, "xgrab: needs a depth-24 display with MIT-SHM\n");
    return 1;
  }
  XShmSegmentInfo shm{};
  XImage* img = XShmCreateImage(dpy, DefaultVisual(dpy, screen), 24, ZPixmap, nullptr, &shm,
                                static_cast<unsigned>(gw), static_cast<unsigned>(gh));
  shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(img->bytes_per_line) * gh, IPC_CREAT | 0600);
  shm.shmaddr = img->data = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
  shm.readOnly = False;
  XShmAttach(dpy, &shm);
  XSync(dpy, False);
  shmctl(shm.shmid, IPC_RMID, nullptr);

  FILE* out = out_path ? std::fopen(out_path, "wb") : stdout;
  if (out == nullptr) return 1;
  const auto period = std::chrono::microseconds(1000000 / fps);
  auto next = std::chrono::steady_clock::now();
  for (int n = 0; n < frames; ++n) {
    std::this_thread::sleep_until(next);
    next += period;
    XShmGetImage(dpy, root, img, gx, gy, AllPlanes);
    for (int y = 0; y < gh; ++y) {
      std::fwrite(img->data + static_cast<size_t>(y) * img->bytes_per_line, 1, static_cast<size_t>(gw) * 4, out);
    }
  }
  if (out != stdout) std::fclose(out);
  XShmDetach(dpy, &shm);
  shmdt(shm.shmaddr);
  XDestroyImage(img);
  XCloseDisplay(dpy);
  return 0;
}
