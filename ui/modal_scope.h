// The plug-in's modal boxes (about box, hotkey capture, colour dialog, a device's property
// frame) each run a message loop inside the plug-in's code. A host may call Done from a message
// that loop dispatches (a timer, a close, the end of the Windows session) and unload the module
// as soon as Done returns: the loop would then return into code that is gone, and a COM object
// it still holds would be released after Done had uninitialised COM.
//
// A ModalScope marks such a loop from before it starts until everything it held is released,
// and notes the box the loop runs: the first captioned top-level window the thread creates
// inside it. Done closes those boxes, pins the module while a loop runs, so it stays loaded
// until the process ends, and leaves COM's uninitialisation to the end of the outermost loop.
// (The system's property frame takes no owner on some systems, so closing the settings dialog
// would not end it.)
//
// Threads: the host's user-interface thread runs the loops; InsideModalLoop may be asked on any
// thread.
#pragma once

#include <windows.h>

namespace kvx {

class ModalScope {
 public:
  ModalScope();
  ~ModalScope();
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  friend void CloseModalBoxes();
  friend void AfterModalLoops(void (*action)());
  friend LRESULT CALLBACK WatchModalBoxes(int code, WPARAM wParam, LPARAM lParam);

  // This thread's outermost scope, or null outside any.
  static ModalScope* Outermost();

  // The scopes of one thread form a chain from the innermost to the outermost.
  ModalScope* outer_;
  HWND box_ = nullptr;
  // The outermost scope's: the creation hook, and what runs once it ends.
  HHOOK watch_ = nullptr;
  void (*afterLoops_)() = nullptr;
};

// Whether a modal loop of ours runs on any thread.
bool InsideModalLoop();
// Closes the boxes of this thread's modal loops, innermost first.
void CloseModalBoxes();
// Keeps the plug-in's module loaded until the process ends, whatever the host frees.
void PinModule();
// Runs action at once when no modal loop of ours runs on this thread, or else when the
// outermost one has ended.
void AfterModalLoops(void (*action)());

}  // namespace kvx
