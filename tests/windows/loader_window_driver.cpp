// Drives loader.exe under Wine the way a user would, by posting messages to its windows, and
// saves pictures of its three windows as PNG files.
//
//   loader_window_driver.exe LOADER.EXE CIBRIDGE.DLL WORK-FOLDER SCREENSHOT-FOLDER
//   loader_window_driver.exe --update LOADER.EXE WORK-FOLDER
//
// CIBRIDGE.DLL is the adapter library (its SetupAPI and WinUSB the stand-ins over the emulated
// adapter, which the caller has installed).
//
// 1. Starts loader.exe from WORK-FOLDER (no adapter library beside it yet) and checks the main
//    window's client size, the application window's title and the main window's owner.
// 2. "Start Update": the driver transport finds no device; the message dialog shows "Fehler";
//    its picture is taken and Escape closes it.
//    Every line of its text lies inside the label's box.
// 3. "Optionen": the focus on the first enabled control; the address box navy (disabled); the
//    dialog's picture; Space unticks "Gerätetreiber benutzen"; the address box navy with gold
//    text (enabled); "OK".
// 4. The adapter library is put beside the program; "Start Update" (Space) runs the whole
//    update to "Ready" at 100 %; the main window's picture is taken.
// 5. The close box ends the program; UseDevice=0 then stands in Morvane.ini.
// With --update it only runs "Start Update" with the settings the caller left in Morvane.ini
// (the driver's, in the driver tests): "Ready" at 100 %, no message dialog, the close box ends
// the program and the settings stay.
// Prints one line per check; the exit status is the number of failed checks (2 for a broken
// set-up).
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
}

// Waits up to `ms` for `condition`, pumping this thread's messages.
template <typename F>
bool WaitFor(F condition, DWORD ms) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > ms) return false;
    Sleep(50);
  }
  return true;
}

struct WindowSearch {
  const char* window_class;
  DWORD process;
  HWND found;
};

BOOL CALLBACK MatchVisibleWindow(HWND window, LPARAM l) {
  auto* search = reinterpret_cast<WindowSearch*>(l);
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  DWORD owner_process = 0;
  GetWindowThreadProcessId(window, &owner_process);
  if (owner_process == search->process && std::string(name) == search->window_class &&
      IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// The visible top-level window of a class in a process, or null.
HWND VisibleWindow(const char* window_class, DWORD process) {
  WindowSearch search{window_class, process, nullptr};
  EnumWindows(&MatchVisibleWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

SIZE ClientSize(HWND window) {
  RECT r{};
  GetClientRect(window, &r);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void Click(HWND window, int x, int y) {
  PostMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
  PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

// --- PNG without compression (stored deflate blocks) -----------------------------------------

std::uint32_t Crc(const std::uint8_t* data, std::size_t n, std::uint32_t crc = 0) {
  crc = ~crc;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Chunk(std::vector<std::uint8_t>& png, const char* type,
           const std::vector<std::uint8_t>& data) {
  Put32(png, static_cast<std::uint32_t>(data.size()));
  std::vector<std::uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  Put32(png, Crc(body.data(), body.size()));
}

bool WritePng(const std::string& path, int w, int h, const std::vector<std::uint32_t>& rgb) {
  std::vector<std::uint8_t> raw;
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t p = rgb[static_cast<std::size_t>(y * w + x)];
      raw.push_back(static_cast<std::uint8_t>(p >> 16));
      raw.push_back(static_cast<std::uint8_t>(p >> 8));
      raw.push_back(static_cast<std::uint8_t>(p));
    }
  }
  std::vector<std::uint8_t> z{0x78, 0x01};
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  for (std::size_t at = 0; at < raw.size() || at == 0;) {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
    const bool last = at + n == raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(static_cast<std::uint8_t>(n));
    z.push_back(static_cast<std::uint8_t>(n >> 8));
    z.push_back(static_cast<std::uint8_t>(~n));
    z.push_back(static_cast<std::uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
             raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
    if (last) break;
  }
  Put32(z, (b << 16) | a);
  std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  Put32(header, static_cast<std::uint32_t>(w));
  Put32(header, static_cast<std::uint32_t>(h));
  header.insert(header.end(), {8, 2, 0, 0, 0});
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", {});
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  return std::fclose(f) == 0 && written;
}

// The client area of a window as it shows on the screen (the window brought to the front), as
// 0x00RRGGBB pixels, row by row.
std::vector<std::uint32_t> ClientPixels(HWND window, SIZE& size) {
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(500);
  size = ClientSize(window);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  const HDC screen = GetDC(nullptr);
  const HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size.cx;
  info.bmiHeader.biHeight = -size.cy;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(dc, bitmap);
  const bool copied = BitBlt(dc, 0, 0, size.cx, size.cy, screen, origin.x, origin.y, SRCCOPY) != 0;
  GdiFlush();
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  std::vector<std::uint32_t> rgb;
  if (copied) rgb.assign(pixels, pixels + size.cx * size.cy);
  for (std::uint32_t& p : rgb) p &= 0xFFFFFFu;
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return rgb;
}

bool Capture(HWND window, const std::string& path) {
  SIZE size{};
  const std::vector<std::uint32_t> rgb = ClientPixels(window, size);
  return !rgb.empty() && WritePng(path, size.cx, size.cy, rgb);
}

// Text in the forms' gold (anti-aliased against navy: much red, little blue).
bool Goldish(std::uint32_t p) {
  return ((p >> 16) & 0xFF) > 0x80 && (p & 0xFF) < 0x60;
}

// The pixels inside a child control (its frame of `inset` pixels left out), in the parent's
// client picture.
std::vector<std::uint32_t> Inside(HWND parent, HWND child, const std::vector<std::uint32_t>& rgb,
                                  SIZE size, int inset) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  std::vector<std::uint32_t> inside;
  for (int y = r.top + inset; y < r.bottom - inset; ++y)
    for (int x = r.left + inset; x < r.right - inset; ++x)
      if (x >= 0 && y >= 0 && x < size.cx && y < size.cy)
        inside.push_back(rgb[static_cast<std::size_t>(y * size.cx + x)]);
  return inside;
}

// The address box's edit part shows the panel's navy, with gold text when enabled.
void CheckAddressBoxColours(HWND options, bool enabled) {
  SIZE size{};
  const auto rgb = ClientPixels(options, size);
  // (GetComboBoxInfo would have the other process write into this one's address.)
  const HWND combo = GetDlgItem(options, 104);
  const HWND found = FindWindowExA(combo, nullptr, "Edit", nullptr);
  const HWND edit = found != nullptr ? found : combo;
  const auto inside = Inside(options, edit, rgb, size, 1);
  std::size_t navy = 0, white = 0, gold = 0;
  for (std::uint32_t p : inside) {
    navy += p == 0x000080 ? 1 : 0;
    white += p == 0xFFFFFF ? 1 : 0;
    gold += Goldish(p) ? 1 : 0;
  }
  const std::string state = enabled ? "enabled" : "disabled";
  Check(!inside.empty() && navy * 2 > inside.size() && white == 0,
        "the " + state + " address box is navy (" + std::to_string(navy) + " navy, " +
            std::to_string(white) + " white of " + std::to_string(inside.size()) + " pixels)");
  if (enabled) Check(gold > 0, "its text is gold (" + std::to_string(gold) + " pixels)");
}

// Every line of the message stands inside the label's box (16, 16, 385 x 57), centred: none
// is laid out narrower than it is drawn.
void CheckMessageInsideItsBox(HWND message) {
  SIZE size{};
  const auto rgb = ClientPixels(message, size);
  int leftmost = size.cx, rightmost = -1;
  for (int y = 16; y < 16 + 57 && y < size.cy; ++y)
    for (int x = 0; x < size.cx; ++x)
      if (Goldish(rgb[static_cast<std::size_t>(y * size.cx + x)])) {
        leftmost = std::min(leftmost, x);
        rightmost = std::max(rightmost, x);
      }
  // The widest line is centred: as far from the box's left edge as from its right one.
  const int leftMargin = leftmost - 16;
  const int rightMargin = 16 + 385 - 1 - rightmost;
  Check(rightmost > 0 && leftMargin >= 0 && rightMargin >= 0 &&
            std::abs(leftMargin - rightMargin) <= 2,
        "the message text lies inside its box, centred (columns " + std::to_string(leftmost) +
            " to " + std::to_string(rightmost) + " of 16 to 400)");
}

// The control that has the keyboard focus in a thread.
HWND FocusOf(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// The main window's status line and progress, as it answers the status query.
std::string StatusOf(HWND main_window) {
  static const UINT query = RegisterWindowMessageA("Morvane.StatusLine");
  const auto atom = static_cast<ATOM>(SendMessageA(main_window, query, 0, 0));
  if (atom == 0) return "";
  char text[128] = {};
  GlobalGetAtomNameA(atom, text, sizeof(text));
  GlobalDeleteAtom(atom);
  return text;
}

std::string SettingsFile() {
  char windows_folder[MAX_PATH] = {};
  GetWindowsDirectoryA(windows_folder, MAX_PATH);
  return std::string(windows_folder) + "\\Morvane.ini";
}

// Copies loader.exe into the work folder (no adapter library beside it), starts it there and
// waits for its main window; null when it does not show.
HWND StartLoader(const std::string& loader, const std::string& work, PROCESS_INFORMATION& process) {
  const std::string program = work + "\\loader.exe";
  CreateDirectoryA(work.c_str(), nullptr);
  DeleteFileA((work + "\\cibridge.dll").c_str());
  if (!CopyFileA(loader.c_str(), program.c_str(), FALSE)) {
    std::printf("cannot copy %s (error %lu)\n", loader.c_str(), GetLastError());
    return nullptr;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  std::string command = "\"" + program + "\"";
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, work.c_str(),
                      &startup, &process)) {
    std::printf("cannot start %s (error %lu)\n", program.c_str(), GetLastError());
    return nullptr;
  }
  HWND main_window = nullptr;
  // A fresh prefix's first window program also starts Wine's desktop: allow for it.
  Check(WaitFor(
            [&] {
              return (main_window = VisibleWindow("TMainLoaderForm", process.dwProcessId)) !=
                     nullptr;
            },
            180000),
        "the main window shows");
  if (main_window == nullptr) TerminateProcess(process.hProcess, 1);
  return main_window;
}

// Space on the main window starts the update; waits for its end: "Ready" in the status line or
// the message dialog.
void UpdateToReady(HWND main_window, DWORD pid) {
  PostMessageA(main_window, WM_CHAR, ' ', 0);
  std::string status;
  const bool ended = WaitFor(
      [&] {
        status = StatusOf(main_window);
        return status.rfind("Ready", 0) == 0 || VisibleWindow("TMessageForm", pid) != nullptr;
      },
      600000);
  Check(ended && status == "Ready|100", "the update ends in \"Ready\" at 100 % (" + status + ")");
}

// The close box ends the program, which writes the settings.
void CloseLoader(HWND main_window, PROCESS_INFORMATION& process) {
  PostMessageA(main_window, WM_CLOSE, 0, 0);
  const bool ended = WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
  Check(ended, "the program ends");
  if (!ended) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

// --update: "Start Update" alone, with the caller's settings.
int UpdateOnly(const std::string& loader, const std::string& work) {
  const std::string ini = SettingsFile();
  const UINT device = GetPrivateProfileIntA("Options", "UseDevice", 1, ini.c_str());
  const UINT unset = 99;
  PROCESS_INFORMATION process{};
  const HWND main_window = StartLoader(loader, work, process);
  if (main_window == nullptr) return 2;
  Sleep(500);
  UpdateToReady(main_window, process.dwProcessId);
  Check(VisibleWindow("TMessageForm", process.dwProcessId) == nullptr, "no message dialog");
  CloseLoader(main_window, process);
  Check(GetPrivateProfileIntA("Options", "UseDevice", unset, ini.c_str()) == device,
        "UseDevice=" + std::to_string(device) + " still stands in Morvane.ini");
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--update") return UpdateOnly(argv[2], argv[3]);
  if (argc != 5) {
    std::printf("usage: %s LOADER.EXE CIBRIDGE.DLL WORK-FOLDER SCREENSHOT-FOLDER\n", argv[0]);
    std::printf("       %s --update LOADER.EXE WORK-FOLDER\n", argv[0]);
    return 2;
  }
  const std::string loader = argv[1];
  const std::string adapter_library = argv[2];
  const std::string work = argv[3];
  const std::string shots = argv[4];
  const std::string library = work + "\\cibridge.dll";
  const std::string ini = SettingsFile();
  DeleteFileA(ini.c_str());

  PROCESS_INFORMATION process{};
  const HWND main_window = StartLoader(loader, work, process);
  if (main_window == nullptr) return 2;
  const DWORD pid = process.dwProcessId;
  const SIZE main_size = ClientSize(main_window);
  Check(main_size.cx == 369 && main_size.cy == 191, "main window client 369 x 191 (" +
                                                        std::to_string(main_size.cx) + " x " +
                                                        std::to_string(main_size.cy) + ")");
  const HWND application = GetWindow(main_window, GW_OWNER);
  char title[128] = {};
  GetWindowTextA(application, title, sizeof(title));
  Check(
      std::string(title) == "Morvane Public-Loader XP USB",
      "the application window, owner of the main window, is titled \"" + std::string(title) + "\"");

  // 2. A run without adapter library and without driver: the message dialog.
  Click(main_window, 200, 96);  // "Start Update"
  HWND message = nullptr;
  Check(WaitFor([&] { return (message = VisibleWindow("TMessageForm", pid)) != nullptr; }, 60000),
        "the message dialog shows");
  if (message != nullptr) {
    const SIZE s = ClientSize(message);
    Check(s.cx == 416 && s.cy == 132, "message dialog client 416 x 132");
    GetWindowTextA(message, title, sizeof(title));
    Check(std::string(title) == "Fehler", "the message dialog's caption is \"Fehler\"");
    Sleep(300);
    CheckMessageInsideItsBox(message);
    Check(Capture(message, shots + "\\windows-message.png"), "windows-message.png saved");
    PostMessageA(message, WM_CHAR, 27, 0);  // Escape
    Check(WaitFor([&] { return !IsWindowVisible(message); }, 10000), "Escape closes it");
  }

  // 3. The options dialog: untick "Gerätetreiber benutzen", "OK".
  Sleep(500);
  Click(main_window, 44, 68);  // "Optionen"
  HWND options = nullptr;
  Check(WaitFor([&] { return (options = VisibleWindow("TOptForm", pid)) != nullptr; }, 10000),
        "the options dialog shows");
  if (options != nullptr) {
    const SIZE s = ClientSize(options);
    Check(s.cx == 273 && s.cy == 204, "options dialog client 273 x 204");
    const HWND driver_box = GetDlgItem(options, 103);
    Check(SendMessageA(driver_box, BM_GETCHECK, 0, 0) == BST_CHECKED,
          "\"Ger\xE4tetreiber benutzen\" is ticked by default");
    Check(!IsWindowEnabled(GetDlgItem(options, 104)), "the address box is disabled");
    // "Automatisch" and the address are disabled: the focus is on the first enabled control.
    HWND focus = nullptr;
    Check(WaitFor([&] { return (focus = FocusOf(process.dwThreadId)) == driver_box; }, 5000),
          "\"Ger\xE4tetreiber benutzen\" has the focus from the first opening");
    Sleep(300);
    CheckAddressBoxColours(options, false);
    Check(Capture(options, shots + "\\windows-options.png"), "windows-options.png saved");
    // Space on the focused box unticks it, as a user's key would.
    PostMessageA(focus != nullptr ? focus : driver_box, WM_KEYDOWN, VK_SPACE, 0x00390001);
    PostMessageA(focus != nullptr ? focus : driver_box, WM_KEYUP, VK_SPACE, 0xC0390001);
    Check(
        WaitFor([&] { return SendMessageA(driver_box, BM_GETCHECK, 0, 0) == BST_UNCHECKED; }, 5000),
        "Space unticks it");
    // Without "Automatisch" the address is enabled; ticked again, as it was.
    const HWND automatic = GetDlgItem(options, 101);
    SendMessageA(automatic, BM_CLICK, 0, 0);
    Check(IsWindowEnabled(GetDlgItem(options, 104)) != 0,
          "without \"Automatisch\" the address box is enabled");
    CheckAddressBoxColours(options, true);
    SendMessageA(automatic, BM_CLICK, 0, 0);
    Click(options, 136, 168);  // "OK"
    Check(WaitFor([&] { return !IsWindowVisible(options); }, 10000), "\"OK\" closes it");
  }

  // 4. The whole update over the adapter library.
  Check(CopyFileA(adapter_library.c_str(), library.c_str(), FALSE) != 0,
        "cibridge.dll beside the program");
  Sleep(500);
  UpdateToReady(main_window, pid);
  // Closing is refused while a run is in progress; now it is idle, so the picture is final.
  PostMessageA(main_window, WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));  // no button lit
  Sleep(500);
  Check(Capture(main_window, shots + "\\windows-main.png"), "windows-main.png saved");

  // 5. The close box ends the program and writes the settings.
  CloseLoader(main_window, process);
  Check(GetPrivateProfileIntA("Options", "UseDevice", -1, ini.c_str()) == 0,
        "UseDevice=0 stands in Morvane.ini");
  return failures;
}
