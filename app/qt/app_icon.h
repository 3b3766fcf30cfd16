// The application's icon, drawn in code: a male (square) mated to three females (circles),
// each with its progeny, on a green tile.
#pragma once

#include <QIcon>
#include <QImage>

namespace quorvel {

// The icon at size x size pixels, transparent outside the tile.
QImage PaintQuorvelIcon(int size);

// The icon at the sizes menus, title bars and docks ask for.
QIcon QuorvelIcon();

}  // namespace quorvel
