// The desktop program's entry point.
#include "app/qt/quorvel_app.h"

int main(int argc, char** argv) {
  quorvel::CQuorvelApp app(argc, argv);
  if (!app.InitInstance()) return 1;
  return app.ExitInstance(app.exec());
}
