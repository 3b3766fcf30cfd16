// Lock-key states from the X server's keyboard indicators.
#include "app/qt/lock_keys.h"

#include <QGuiApplication>

#if defined(QUORVEL_HAVE_X11)
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

namespace quorvel {

#if defined(QUORVEL_HAVE_X11)
namespace {

// Whether the named indicator ("Caps Lock", ...) is lit; false where the keyboard has none.
bool IndicatorLit(Display* display, const char* name) {
  const Atom atom = XInternAtom(display, name, True);
  if (atom == 0) return false;
  int lit = 0;
  if (!XkbGetNamedIndicator(display, atom, nullptr, &lit, nullptr, nullptr)) return false;
  return lit != 0;
}

}  // namespace

std::optional<LockKeys> QueryLockKeys() {
  auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->display() == nullptr) return std::nullopt;
  Display* display = x11->display();
  return LockKeys{IndicatorLit(display, "Caps Lock"), IndicatorLit(display, "Num Lock"),
                  IndicatorLit(display, "Scroll Lock")};
}

#else

std::optional<LockKeys> QueryLockKeys() { return std::nullopt; }

#endif

}  // namespace quorvel
