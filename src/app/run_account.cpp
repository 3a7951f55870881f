#include "app/run_account.h"

#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QUrl>
#include <map>

namespace qm {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Drawn on a 16-unit square, scaled to the size asked for.
QPixmap DrawOutcome(TableStatus status, int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  const QPen white(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  auto tick = [&] {
    p.setPen(white);
    p.drawPolyline(QPolygonF({QPointF(4.5, 8.5), QPointF(7, 11), QPointF(11.5, 5.5)}));
  };
  switch (status) {
    case TableStatus::kTemplate:
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(31, 95, 191));
      p.drawRoundedRect(QRectF(1, 1, 14, 14), 3, 3);
      tick();
      break;
    case TableStatus::kMerged:
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(33, 115, 70));
      p.drawEllipse(QRectF(1, 1, 14, 14));
      tick();
      break;
    case TableStatus::kHeaderMismatch:
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(214, 132, 0));
      p.drawEllipse(QRectF(1, 1, 14, 14));
      p.setPen(white);
      p.drawLine(QPointF(8, 4.5), QPointF(8, 9));
      p.drawPoint(QPointF(8, 11.8));
      break;
    case TableStatus::kUnreadable:
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(192, 40, 30));
      p.drawEllipse(QRectF(1, 1, 14, 14));
      p.setPen(white);
      p.drawLine(QPointF(5.2, 5.2), QPointF(10.8, 10.8));
      p.drawLine(QPointF(10.8, 5.2), QPointF(5.2, 10.8));
      break;
    case TableStatus::kNotReached:
      p.setPen(QPen(QColor(150, 150, 150), 1.5));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
      break;
  }
  return pm;
}

// The outcome as the account's table names it.
QString Caption(const TableOutcome& o) {
  switch (o.status) {
    case TableStatus::kTemplate:
      return QStringLiteral("模板");
    case TableStatus::kMerged:
      return QStringLiteral("已合并");
    case TableStatus::kHeaderMismatch:
      return QStringLiteral("表头不符，已跳过");
    case TableStatus::kUnreadable:
      // An unreadable template is not skipped: it ended the run.
      return o.file_index == 0 ? QStringLiteral("无法读取") : QStringLiteral("无法读取，已跳过");
    case TableStatus::kNotReached:
      return QStringLiteral("未合并");
  }
  return QString();
}

QString Reason(const TableOutcome& o) {
  switch (o.status) {
    case TableStatus::kHeaderMismatch:
      return QStringLiteral("表头与模板不同");
    case TableStatus::kUnreadable:
      return Q(o.reason);
    case TableStatus::kNotReached:
      return QStringLiteral("合并在此之前已结束");
    default:
      return QString();
  }
}

}  // namespace

QIcon OutcomeIcon(TableStatus status) {
  QIcon icon;
  for (int size : {16, 32}) icon.addPixmap(DrawOutcome(status, size));
  return icon;
}

QString OutcomeToolTip(const TableOutcome& o) {
  const QString rows = o.rows ? QStringLiteral("%1行").arg(*o.rows) : QString();
  switch (o.status) {
    case TableStatus::kTemplate:
      return rows.isEmpty() ? QStringLiteral("模板") : QStringLiteral("模板，已合并") + rows;
    case TableStatus::kMerged:
      return QStringLiteral("已合并") + rows;
    case TableStatus::kHeaderMismatch:
      return QStringLiteral("表头与模板不同，已跳过");
    case TableStatus::kUnreadable:
    case TableStatus::kNotReached:
      return Caption(o) + QStringLiteral("：") + Reason(o);
  }
  return QString();
}

RunSummary SummarizeTables(const std::vector<TableOutcome>& tables) {
  return Summarize(tables);
}

QString AccountPage(const std::string& heading, const std::vector<TableOutcome>& tables,
                    const std::optional<std::string>& result_path) {
  // A file that gives more than one table names the sheet beside it.
  std::map<size_t, int> per_file;
  for (const TableOutcome& t : tables) ++per_file[t.file_index];

  QString html = QStringLiteral(
      "<html><head><style>"
      "h3 { color: #c04000; margin: 4px 0; }"
      "th { background: #e8f0e8; }"
      "</style></head><body><h3>本次合并</h3><p>");
  html += Q(heading).toHtmlEscaped() + QStringLiteral("</p>");
  if (result_path) {
    // The heading names the result already; the link opens the folder that holds it.
    const QString folder = QFileInfo(Q(*result_path)).absolutePath();
    html += QStringLiteral("<p><a href=\"%1\">打开结果所在的文件夹</a></p>")
                .arg(QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded).toHtmlEscaped());
  }
  html += QStringLiteral(
      "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">"
      "<tr><th>文件</th><th>结果</th><th>行数</th><th>原因</th></tr>");
  for (const TableOutcome& t : tables) {
    QString name = Q(t.name);
    if (per_file[t.file_index] > 1 && !t.sheet.empty())
      name += QStringLiteral("（%1）").arg(Q(t.sheet));
    // Rows count only for a table that joined the result.
    const bool joined = t.status == TableStatus::kTemplate || t.status == TableStatus::kMerged;
    html += QStringLiteral("<tr><td>%1</td><td>%2</td><td align=\"right\">%3</td><td>%4</td></tr>")
                .arg(name.toHtmlEscaped(), Caption(t).toHtmlEscaped(),
                     joined && t.rows ? QString::number(*t.rows) : QString(),
                     Reason(t).toHtmlEscaped());
  }
  html += QStringLiteral("</table>");
  html += QStringLiteral("</body></html>");
  return html;
}

}  // namespace qm
