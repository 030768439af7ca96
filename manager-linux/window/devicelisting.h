// The manager's --list-devices start: the window starts as usual and, once its
// device list shows every device the library lists, the list is printed on
// standard output (one line a device, "MAC - friendly name" as the list shows
// it) and the application quits with status 0. When that has not happened
// within `timeoutMs` (no device attached, the daemon unreachable, a device the
// window refused), what the list shows is printed, the reason goes to
// standard error and the status is 1. It checks an installation end to end:
// the display, the library, the daemon and the window.
#pragma once

class MainWindow;

// Starts watching `window`, which must outlive the application's event loop.
void listDevicesAndQuit(const MainWindow& window, int timeoutMs);
