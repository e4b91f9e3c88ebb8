#include "gui/ColourScheme.h"

#include "gui/Art.h"
#include "util/Log.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace kestel::gui {
namespace {

const char* const kPortalService = "org.freedesktop.portal.Desktop";
const char* const kPortalPath = "/org/freedesktop/portal/desktop";
const char* const kSettingsInterface = "org.freedesktop.portal.Settings";
const char* const kAppearance = "org.freedesktop.appearance";
const char* const kColourSchemeKey = "color-scheme";

// The portal wraps its values in variants, sometimes twice.
uint32_t schemeValue(QVariant v) {
  while (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>())
    v = v.value<QDBusVariant>().variant();
  bool ok = false;
  const uint32_t n = v.toUInt(&ok);
  return ok ? n : 0;
}

} // namespace

ColourScheme colourSchemeOf(uint32_t portalValue) {
  switch (portalValue) {
  case 1:
    return ColourScheme::Dark;
  case 2:
    return ColourScheme::Light;
  default:
    return ColourScheme::NoPreference;
  }
}

QPalette darkPalette() {
  QPalette p;
  const QColor window(0x2b, 0x2d, 0x31), base(0x1e, 0x1f, 0x22), text(0xe6, 0xe6, 0xe6);
  const QColor button(0x35, 0x37, 0x3c), highlight(0x3d, 0x7a, 0xd6), muted(0x80, 0x80, 0x80);
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    const bool off = g == QPalette::Disabled;
    p.setColor(g, QPalette::Window, window);
    p.setColor(g, QPalette::WindowText, off ? muted : text);
    p.setColor(g, QPalette::Base, base);
    p.setColor(g, QPalette::AlternateBase, window);
    p.setColor(g, QPalette::Text, off ? muted : text);
    p.setColor(g, QPalette::PlaceholderText, muted);
    p.setColor(g, QPalette::Button, button);
    p.setColor(g, QPalette::ButtonText, off ? muted : text);
    p.setColor(g, QPalette::BrightText, Qt::white);
    p.setColor(g, QPalette::ToolTipBase, base);
    p.setColor(g, QPalette::ToolTipText, text);
    p.setColor(g, QPalette::Highlight, off ? button : highlight);
    p.setColor(g, QPalette::HighlightedText, Qt::white);
    p.setColor(g, QPalette::Link, highlight.lighter(130));
    p.setColor(g, QPalette::Light, button.lighter(150));
    p.setColor(g, QPalette::Midlight, button.lighter(120));
    p.setColor(g, QPalette::Mid, button.darker(120));
    p.setColor(g, QPalette::Dark, QColor(0x18, 0x19, 0x1b));
    p.setColor(g, QPalette::Shadow, Qt::black);
  }
  return p;
}

ColourSchemeFollower::ColourSchemeFollower(QObject* parent) : QObject(parent) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return;
  bus.connect(kPortalService, kPortalPath, kSettingsInterface, "SettingChanged", this,
              SLOT(settingChanged(QString, QString, QDBusVariant)));
  QDBusMessage read =
      QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettingsInterface, "Read");
  read << QString(kAppearance) << QString(kColourSchemeKey);
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    QDBusPendingReply<QVariant> reply = *w;
    if (!reply.isError()) // no portal, or one without the setting: the palette stays
      follow(colourSchemeOf(schemeValue(reply.value())));
    w->deleteLater();
  });
}

void ColourSchemeFollower::settingChanged(const QString& group, const QString& key,
                                          const QDBusVariant& value) {
  if (group == kAppearance && key == kColourSchemeKey)
    follow(colourSchemeOf(schemeValue(value.variant())));
}

void ColourSchemeFollower::follow(ColourScheme scheme) {
  if (scheme == ColourScheme::Dark && !isDarkPalette(QApplication::palette())) {
    logLine("colour scheme: dark");
    replaced_ = true;
    QApplication::setPalette(darkPalette());
  } else if (scheme != ColourScheme::Dark && replaced_) {
    logLine("colour scheme: the desktop's own");
    replaced_ = false;
    QApplication::setPalette(QPalette()); // back to the desktop theme's palette
  }
}

} // namespace kestel::gui
