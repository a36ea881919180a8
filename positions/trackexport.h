#ifndef GPSA_TRACKEXPORT_H
#define GPSA_TRACKEXPORT_H

#include "positionrecorder.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QStringView>

#include <optional>

// Decoded positions in the formats that map and GIS tools read. A device's track is its valid
// records that have coordinates, in the order of their fix times (a record without one keeps
// its place after the record before it).
//   Csv      positions.csv's header and lines.
//   GeoJson  a FeatureCollection (RFC 7946): a Point per record with coordinates, its values as
//            properties (null where the protocol lacks them), and a LineString per track of at
//            least two points.
//   Gpx      GPX 1.1: a trk per device with a trkpt per track point: ele, time, the speed and
//            course as desc (GPX 1.1 has no element for them), sat.
//   Kml      KML 2.2: a Placemark with a LineString per track, and a Placemark per record with
//            coordinates, with its time and values.
enum class TrackFormat { Csv, GeoJson, Gpx, Kml };

[[nodiscard]] std::optional<TrackFormat> trackFormatFromName(QStringView name);
[[nodiscard]] QStringList trackFormatNames();

[[nodiscard]] QByteArray exportTrack(const QList<PositionRow> &rows, TrackFormat format);

// The rows of each device's track, devices in the order they first appear.
[[nodiscard]] QList<QList<const PositionRow *>> tracksOf(const QList<PositionRow> &rows);

#endif
