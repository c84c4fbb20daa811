// The timeline strip and its image: one painter for both, the strip's
// colours taken from its palette (light or dark), the image's light on
// white. Sizes are in logical pixels, so a screen of 2x scale, and the
// PNG drawn at twice the size, get sharp lines and text.

#include "runtime/timeline.h"

#include "runtime/hooks.h"
#include "runtime/state.h"
#include "runtime/widgets_p.h"

#include <QBuffer>
#include <QDateTime>
#include <QHelpEvent>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::int64_t kDayMs = 86400 * 1000;
constexpr double kMinBar = 3.0; // a session of a few minutes in 30 days is still seen

struct Colours {
    QColor band, border, text, faint, succeeded, failed, offlineSpan, offlineBar, check;
};

Colours ColoursFor(const QPalette& palette)
{
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    Colours c;
    c.band = palette.color(QPalette::Base);
    c.border = palette.color(QPalette::Mid);
    c.text = palette.color(QPalette::WindowText);
    c.faint = dark ? QColor(0x5a, 0x5a, 0x5a) : QColor(0xc8, 0xc8, 0xc8);
    c.succeeded = dark ? QColor(0x4c, 0xc2, 0x63) : QColor(0x2e, 0x9e, 0x44);
    c.failed = dark ? QColor(0xf0, 0x62, 0x5a) : QColor(0xd1, 0x36, 0x2f);
    c.offlineSpan = dark ? QColor(0x4a, 0x4a, 0x4a) : QColor(0xdc, 0xdc, 0xdc);
    c.offlineBar = dark ? QColor(0x9a, 0x9a, 0x9a) : QColor(0x80, 0x80, 0x80);
    c.check = c.text;
    return c;
}

QColor BarColour(const Colours& c, QzTimelineResult result)
{
    switch (result) {
    case QzTimelineResult::Succeeded:
        return c.succeeded;
    case QzTimelineResult::Failed:
        return c.failed;
    case QzTimelineResult::Offline:
        return c.offlineBar;
    case QzTimelineResult::Unknown:
        break;
    }
    return c.band;
}

// The period from..to across the band's width, with a fiftieth more room
// after `to`, so that the marks of the checks just made stand clear of the
// band's edge.
struct Scale {
    QRectF band;
    std::int64_t from = 0;
    std::int64_t to = 1;

    double X(std::int64_t ms) const
    {
        const auto span = static_cast<double>(to - from) * 1.02;
        return band.left() + band.width() * static_cast<double>(ms - from) / span;
    }
    // A bar from start to end, at least kMinBar wide, clipped to the band.
    QRectF Bar(std::int64_t start, std::int64_t end, double top, double height) const
    {
        double left = X(start);
        double right = std::max(X(end), left + kMinBar);
        left = std::max(left, band.left());
        right = std::min(right, band.right());
        return QRectF(left, top, std::max(0.0, right - left), height);
    }
};

// Where the axis is marked: every 3 hours over a day, each midnight over a
// week, every fifth midnight over a month; fainter lines at every midnight.
struct Tick {
    std::int64_t ms;
    QString label;
};

std::vector<Tick> Ticks(std::int64_t from, std::int64_t to)
{
    const std::int64_t span = to - from;
    const int stepHours = span <= 2 * kDayMs ? 3 : 24;
    const int labelEvery = span <= 10 * kDayMs ? 1 : 5;
    const QString format = stepHours < 24 ? QStringLiteral("HH:mm") : QStringLiteral("ddd d MMM");
    QDateTime t = QDateTime::fromMSecsSinceEpoch(from);
    t = QDateTime(t.date(), QTime(t.time().hour() / stepHours * stepHours, 0));
    std::vector<Tick> ticks;
    for (int n = 0; t.toMSecsSinceEpoch() <= to && n < 400; ++n) {
        if (t.toMSecsSinceEpoch() >= from) {
            const bool labelled = stepHours < 24 || t.date().day() % labelEvery == 0 || labelEvery == 1;
            ticks.push_back({t.toMSecsSinceEpoch(), labelled ? t.toString(format) : QString()});
        }
        t = stepHours < 24 ? t.addSecs(stepHours * 3600) : QDateTime(t.date().addDays(1), QTime(0, 0));
    }
    return ticks;
}

// The band with its sessions, offline spans and check marks, and the axis
// labels below it.
void PaintBand(QPainter& p, const Scale& s, const QzTimeline& t, const Colours& c)
{
    const QRectF band = s.band;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(band, c.band);
    for (const QzTimelineSpan& span : t.offline)
        if (span.endMs >= s.from && span.startMs <= s.to)
            p.fillRect(s.Bar(span.startMs, span.endMs, band.top(), band.height()), c.offlineSpan);
    const std::vector<Tick> ticks = Ticks(s.from, s.to);
    p.setPen(QPen(c.faint, 0));
    for (const Tick& tick : ticks)
        p.drawLine(QPointF(s.X(tick.ms), band.top()), QPointF(s.X(tick.ms), band.bottom()));
    const double barTop = band.top() + band.height() * 0.3;
    const double barHeight = band.height() * 0.55;
    for (const QzTimelineSession& session : t.sessions) {
        if (session.endMs < s.from || session.startMs > s.to)
            continue;
        const QRectF bar = s.Bar(session.startMs, session.endMs, barTop, barHeight);
        if (session.result == QzTimelineResult::Unknown) {
            p.setPen(QPen(c.text, 1));
            p.setBrush(Qt::NoBrush);
            p.drawRect(bar.adjusted(0.5, 0.5, -0.5, -0.5));
        } else {
            p.fillRect(bar, BarColour(c, session.result));
        }
    }
    // A check is a short mark hanging from the band's top edge, longer
    // and in the failure colour when it found a problem; fainter where
    // they stand closer than two pixels.
    const auto shown = std::count_if(t.checks.begin(), t.checks.end(),
        [&](const QzTimelineCheck& check) { return check.atMs >= s.from && check.atMs <= s.to; });
    QColor mark = c.check;
    if (static_cast<double>(shown) * 2 > band.width())
        mark.setAlpha(110);
    for (const QzTimelineCheck& check : t.checks) {
        if (check.atMs < s.from || check.atMs > s.to)
            continue;
        const double x = std::clamp(std::round(s.X(check.atMs)), band.left() + 1, band.right() - 2) + 0.5;
        p.setPen(QPen(check.problem ? c.failed : mark, check.problem ? 2 : 1));
        p.drawLine(QPointF(x, band.top()), QPointF(x, band.top() + (check.problem ? 9 : 6)));
    }
    p.setPen(QPen(c.border, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(band.adjusted(0.5, 0.5, -0.5, -0.5));
    p.setPen(c.text);
    const QFontMetricsF metrics(p.font());
    for (const Tick& tick : ticks) {
        if (tick.label.isEmpty())
            continue;
        const double width = metrics.horizontalAdvance(tick.label);
        const double x = std::clamp(s.X(tick.ms) - width / 2, band.left(), band.right() - width);
        p.drawText(QPointF(x, band.bottom() + 3 + metrics.ascent()), tick.label);
    }
    p.restore();
}

// The legend, right-aligned so that it ends at `right`, on the baseline y.
void PaintLegend(QPainter& p, double right, double y, const Colours& c)
{
    const std::pair<QString, QColor> items[]
        = {{QStringLiteral("succeeded"), c.succeeded}, {QStringLiteral("failed"), c.failed},
            {QStringLiteral("drive offline"), c.offlineBar}, {QStringLiteral("check"), c.check}};
    const QFontMetricsF metrics(p.font());
    double width = 0;
    for (const auto& [label, colour] : items)
        width += 10 + 4 + metrics.horizontalAdvance(label) + 12;
    double x = right - width + 12;
    p.save();
    for (const auto& [label, colour] : items) {
        const QRectF swatch(x, y - metrics.ascent() / 2 - 5, 10, 10);
        if (label == QLatin1String("check"))
            p.fillRect(QRectF(swatch.center().x() - 0.5, swatch.top(), 1.5, 7), colour);
        else
            p.fillRect(swatch, colour);
        p.setPen(c.text);
        p.drawText(QPointF(x + 14, y), label);
        x += 14 + metrics.horizontalAdvance(label) + 12;
    }
    p.restore();
}

class TimelineSC : public QWidget {
public:
    explicit TimelineSC(QWidget* parent)
        : QWidget(parent)
    {
        const QString titles[] = {QStringLiteral("24 hours"), QStringLiteral("7 days"), QStringLiteral("30 days")};
        int x = 0;
        for (std::size_t i = 0; i < std::size(kQzTimelineDays); ++i) {
            auto* button = new QToolButton(this);
            button->setText(titles[i]);
            button->setCheckable(true);
            button->setAutoExclusive(true);
            button->setChecked(i == 0);
            button->setFocusPolicy(Qt::NoFocus);
            button->setToolTip(QStringLiteral("Show the last ") + titles[i]);
            button->adjustSize();
            button->setGeometry(x, 0, button->width() + 8, 22);
            x += button->width() + 4;
            const int days = kQzTimelineDays[i];
            connect(button, &QToolButton::toggled, this, [this, days](bool on) {
                if (on) {
                    days_ = days;
                    update();
                }
            });
        }
    }

    void SetTimeline(const QzTimeline& timeline)
    {
        timeline_ = timeline;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const Colours c = ColoursFor(palette());
        PaintLegend(p, width() - 1, 11 + QFontMetricsF(font()).ascent() / 2, c);
        PaintBand(p, Now(), timeline_, c);
    }

    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::ToolTip)
            return QWidget::event(e);
        const auto* help = static_cast<QHelpEvent*>(e);
        const QString tip = TipAt(help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }

private:
    Scale Now() const
    {
        const std::int64_t now = gQzNowHook();
        return Scale {QRectF(0, 28, width(), 40), now - days_ * kDayMs, now};
    }

    // What hovering at pos shows: the session there, else a check within
    // 3 pixels, else the offline span there.
    QString TipAt(QPointF pos) const
    {
        const Scale s = Now();
        if (!s.band.adjusted(0, -4, 0, 4).contains(pos))
            return {};
        const auto at = [&](std::int64_t start, std::int64_t end) {
            const QRectF bar = s.Bar(start, end, s.band.top(), s.band.height());
            return pos.x() >= bar.left() - 1 && pos.x() <= bar.right() + 1;
        };
        for (auto it = timeline_.sessions.rbegin(); it != timeline_.sessions.rend(); ++it)
            if (at(it->startMs, it->endMs))
                return it->tip;
        for (const QzTimelineCheck& check : timeline_.checks)
            if (std::abs(s.X(check.atMs) - pos.x()) <= 3)
                return check.tip;
        for (const QzTimelineSpan& span : timeline_.offline)
            if (at(span.startMs, span.endMs))
                return span.tip;
        return {};
    }

    QzTimeline timeline_;
    int days_ = kQzTimelineDays[0];
};

TimelineSC* FindStrip(std::int64_t tag, std::int64_t windowTag)
{
    QWidget* window = QzTargetWindow(windowTag);
    return window ? dynamic_cast<TimelineSC*>(QzFindView(window, tag)) : nullptr;
}

void PaintImage(
    QPainter& p, const QSizeF& size, const QzTimeline& t, std::int64_t from, std::int64_t to, const QString& title)
{
    QPalette light;
    light.setColor(QPalette::Window, Qt::white);
    light.setColor(QPalette::Base, QColor(0xfa, 0xfa, 0xfa));
    light.setColor(QPalette::Mid, QColor(0xa0, 0xa0, 0xa0));
    light.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
    const Colours c = ColoursFor(light);
    p.fillRect(QRectF(QPointF(0, 0), size), Qt::white);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    const double baseline = 12 + QFontMetricsF(font).ascent() / 2;
    QFont bold = font;
    bold.setBold(true);
    p.setFont(bold);
    p.setPen(c.text);
    p.drawText(QPointF(12, baseline), title);
    p.setFont(font);
    PaintLegend(p, size.width() - 12, baseline, c);
    PaintBand(p, Scale {QRectF(12, 34, size.width() - 24, size.height() - 64), from, to}, t, c);
}

} // namespace

void QzTimelineView(std::int64_t tag, std::int64_t windowTag, QzRect frame)
{
    QWidget* window = QzTargetWindow(windowTag);
    if (!window) {
        QzWindowErrorAlert(windowTag != 0 ? windowTag : QzCurrentWindow);
        return;
    }
    QWidget* view = QzFindView(window, tag);
    auto* strip = dynamic_cast<TimelineSC*>(view);
    if (view && !strip) {
        QzClassErrorAlert(view, tag, QzWindowTagOf(window), "TimelineSC", true);
        return;
    }
    if (!strip) {
        strip = new TimelineSC(QzContentView(window));
        strip->setProperty(kQzViewTagProperty, QVariant::fromValue(tag));
        strip->setProperty(kQzWndTagProperty, QVariant::fromValue(QzWindowTagOf(window)));
    }
    if (!frame.empty())
        strip->setGeometry(QzFromMacRect(strip->parentWidget(), frame));
    strip->show();
}

void QzTimelineSetData(std::int64_t tag, const QzTimeline& timeline)
{
    if (TimelineSC* strip = FindStrip(tag, 0))
        strip->SetTimeline(timeline);
}

QByteArray QzTimelineImage(
    const QzTimeline& timeline, std::int64_t fromMs, std::int64_t toMs, const QString& title, const QString& format)
{
    const QSize size(960, 150);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (format == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(title);
        QPainter p(&svg);
        PaintImage(p, size, timeline, fromMs, toMs, title);
    } else {
        QImage image(size * 2, QImage::Format_RGB32);
        image.setDevicePixelRatio(2);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::TextAntialiasing);
            PaintImage(p, size, timeline, fromMs, toMs, title);
        }
        if (!image.save(&buffer, "PNG"))
            bytes.clear();
    }
    return bytes;
}
