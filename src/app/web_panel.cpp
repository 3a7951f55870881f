#include "app/web_panel.h"

namespace qm {

WebPanel::WebPanel(QWidget* parent) : QTextBrowser(parent) {
  setOpenLinks(true);
  setOpenExternalLinks(false);
}

void WebPanel::Navigate(const QUrl& url) {
  setSource(url);
}

QString WebPanel::LocationName() const {
  QString title = documentTitle();
  return title.isEmpty() ? source().toString() : title;
}

void WebPanel::doSetSource(const QUrl& name, QTextDocument::ResourceType type) {
  QTextBrowser::doSetSource(name, type);
  emit documentComplete();
}

QVariant WebPanel::loadResource(int type, const QUrl& name) {
  // The blank page has no file behind it.
  if (name.scheme() == QLatin1String("about"))
    return QStringLiteral("<html><head><title></title></head><body></body></html>");
  // Only shipped resources and local files are shown; anything else stays empty.
  if (name.scheme() != QLatin1String("qrc") && !name.isLocalFile() && !name.isRelative())
    return QVariant();
  return QTextBrowser::loadResource(type, name);
}

}  // namespace qm
