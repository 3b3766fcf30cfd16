// The main view: a scrolling area that shows the data echo, "Please wait" or the analysis
// report, and the handler of the commands that work on them.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>

#include "app/commands/commands.h"
#include "app/qt/qt_platform.h"

namespace quorvel {

class CQuorvelDoc;

class CQuorvelView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit CQuorvelView(CQuorvelDoc* document, QWidget* parent = nullptr);
  // Waits for a run still going: its worker writes into this view's session.
  ~CQuorvelView() override;

  CQuorvelDoc* GetDocument() const { return document_; }
  Session& GetSession() { return session_; }
  QtPlatform& GetPlatform() { return platform_; }

  // The scrollable drawing area in pixels (scrollWidth x scrollHeight); the scroll bars
  // cover what the viewport does not show.
  void SetScrollSize(int width, int height);
  QSize ScrollSize() const { return {scrollWidth_, scrollHeight_}; }
  int DotPhase() const { return dotPhase_; }

  // The font of every text the view draws: "Courier New" (or its metric twin) with a
  // character cell 20 pixels high, the line pitch.
  static QFont ViewFont();

  // Called by the view's timers with their id.
  void OnTimer(int id);

 signals:
  // A run started (true) or handed over (false).
  void runStateChanged(bool running);
  // A warning about the last command for the status bar; empty clears it.
  void statusWarning(const QString& text);

 public slots:
  // Start-up of the view, again for every new document.
  void OnInitialUpdate();
  void OnFileOpen();
  void OnFileSaveAs();
  void OnModel1();
  void OnModel2();
  void OnModel3();
  void OnHelpManual();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void UpdateScrollBars();

  CQuorvelDoc* document_;
  QtPlatform platform_{*this};
  Session session_{platform_};
  QFont font_;
  int dotPhase_;          // phase of the "Please wait" dots, 100 to 142 in steps of 7
  int scrollWidth_ = 0;   // scrollable drawing area last set, pixels
  int scrollHeight_ = 0;
};

}  // namespace quorvel
