#pragma once

#include "status/status_snapshot.h"

#include <QByteArray>

// The snapshot in Prometheus' text format (version 0.0.4): every family with its HELP and TYPE.
namespace TMetricsText {

QByteArray Make(const TStatusSnapshot &s);
inline QByteArray ContentType() { return QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"); }

} // namespace TMetricsText
