// The document of the single-document window. It holds no data: the data set and the
// working files belong to the view's session, and Open and Save As are the view's.
#pragma once

#include <QObject>

namespace quorvel {

class CQuorvelDoc : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  // New-document hook: nothing to reset, so a new document always succeeds and the view
  // runs its start-up again.
  bool OnNewDocument() { return true; }
};

}  // namespace quorvel
