// Build-time helper of the desktop program, run on the offscreen platform:
//   quorvel_doc_tool manual MANUAL.md OUT.pdf   the user manual as an A4 PDF
//   quorvel_doc_tool icon SIZE OUT.png          the application's icon at SIZE pixels
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextTable>
#include <QUrl>
#include <cstdio>

#include "app/qt/app_icon.h"

namespace {

// Widest image on the page, in the document's 96-per-inch units: the A4 text width
// between the 2 cm margins that printing adds.
constexpr double kMaxImageWidth = 600;
constexpr double kCodePointSize = 7.5;  // report excerpts of 88 characters fit the line

// Reads the whole of a UTF-8 text file; false when it cannot be read.
bool ReadText(const QString& path, QString& text) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  text = QString::fromUtf8(file.readAll());
  return true;
}

// Scales every image down to the text width, keeping its proportions.
void FitImages(QTextDocument& document, const QString& folder) {
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.charFormat().isImageFormat()) continue;
      QTextImageFormat image = fragment.charFormat().toImageFormat();
      const QUrl url(image.name());
      const QString path =
          url.isRelative() ? folder + QLatin1Char('/') + url.path() : url.toLocalFile();
      const QSize natural = QImageReader(path).size();
      if (!natural.isValid() || natural.width() <= kMaxImageWidth) continue;
      image.setWidth(kMaxImageWidth);
      image.setHeight(kMaxImageWidth * natural.height() / natural.width());
      QTextCursor cursor(&document);
      cursor.setPosition(fragment.position());
      cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
      cursor.setCharFormat(image);
    }
  }
}

// Sets the code blocks in a smaller fixed font so that report lines are not cut.
void ShrinkCodeBlocks(QTextDocument& document) {
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    if (!block.blockFormat().nonBreakableLines()) continue;
    QTextCursor cursor(block);
    cursor.select(QTextCursor::BlockUnderCursor);
    QTextCharFormat small;
    small.setFontPointSize(kCodePointSize);
    cursor.mergeCharFormat(small);
  }
}

// Gives tables padded cells with single rules between them.
void PadTables(QTextDocument& document) {
  for (QTextFrame* frame : document.rootFrame()->childFrames()) {
    auto* table = qobject_cast<QTextTable*>(frame);
    if (table == nullptr) continue;
    QTextTableFormat format = table->format();
    format.setCellPadding(4);
    format.setCellSpacing(0);
    format.setBorderCollapse(true);
    format.setBorder(0.5);
    table->setFormat(format);
  }
}

int WriteManual(const QString& source, const QString& target) {
  QString markdown;
  if (!ReadText(source, markdown)) {
    std::fprintf(stderr, "quorvel_doc_tool: cannot read %s\n", qPrintable(source));
    return 1;
  }
  const QString folder = QFileInfo(source).absolutePath();
  QTextDocument document;
  document.setBaseUrl(QUrl::fromLocalFile(folder + QLatin1Char('/')));
  QFont body = document.defaultFont();
  body.setPointSizeF(10);
  document.setDefaultFont(body);
  document.setMarkdown(markdown);
  FitImages(document, folder);
  ShrinkCodeBlocks(document);
  PadTables(document);

  QPdfWriter writer(target);
  writer.setTitle(QStringLiteral("Quorvel Manual"));
  writer.setCreator(QStringLiteral("Quorvel"));
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setResolution(300);
  document.print(&writer);  // A4 pages with 2 cm margins and page numbers
  if (!QFileInfo(target).exists()) {
    std::fprintf(stderr, "quorvel_doc_tool: cannot write %s\n", qPrintable(target));
    return 1;
  }
  return 0;
}

int WriteIcon(const QString& sizeText, const QString& target) {
  bool ok = false;
  const int size = sizeText.toInt(&ok);
  if (!ok || size < 8 || size > 1024) {
    std::fprintf(stderr, "quorvel_doc_tool: bad icon size %s\n", qPrintable(sizeText));
    return 2;
  }
  if (!quorvel::PaintQuorvelIcon(size).save(target, "PNG")) {
    std::fprintf(stderr, "quorvel_doc_tool: cannot write %s\n", qPrintable(target));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() == 4 && args[1] == QLatin1String("manual")) return WriteManual(args[2], args[3]);
  if (args.size() == 4 && args[1] == QLatin1String("icon")) return WriteIcon(args[2], args[3]);
  std::fprintf(stderr, "usage: quorvel_doc_tool manual MANUAL.md OUT.pdf | icon SIZE OUT.png\n");
  return 2;
}
