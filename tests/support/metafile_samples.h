// Small metafiles written by hand for the preview's tests: a red rectangle on white.
#pragma once

#include <QByteArray>
#include <QtEndian>

namespace samples {

inline void u16(QByteArray& b, quint16 v) {
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}
inline void u32(QByteArray& b, quint32 v) {
    u16(b, quint16(v & 0xFFFF));
    u16(b, quint16(v >> 16));
}

// width x height pixels at 96 dpi; a filled rectangle over the left half.
inline QByteArray Wmf(int width, int height, quint32 colour = 0x000000FF) {
    QByteArray records;
    auto record = [&](quint16 fn, std::initializer_list<quint16> params) {
        u32(records, quint32(3 + params.size()));
        u16(records, fn);
        for (quint16 p : params)
            u16(records, p);
    };
    record(0x02FC, {0, quint16(colour & 0xFFFF), quint16(colour >> 16), 0}); // CREATEBRUSHINDIRECT
    record(0x012D, {0});                                                     // SELECTOBJECT 0
    record(0x041B, {quint16(height), quint16(width / 2), 0, 0});             // RECTANGLE
    record(0x0000, {});                                                      // EOF
    QByteArray b;
    u32(b, 0x9AC6CDD7);
    u16(b, 0);
    u16(b, 0);
    u16(b, 0);
    u16(b, quint16(width));
    u16(b, quint16(height));
    u16(b, 96); // units per inch
    u32(b, 0);
    u16(b, 0); // checksum, not checked
    u16(b, 1);
    u16(b, 9);
    u16(b, 0x0300);
    u32(b, quint32((18 + records.size()) / 2));
    u16(b, 1);
    u32(b, 7);
    u16(b, 0);
    return b + records;
}

inline QByteArray Emf(int width, int height, quint32 colour = 0x000000FF) {
    QByteArray records;
    auto record = [&](quint32 type, std::initializer_list<quint32> params) {
        u32(records, type);
        u32(records, quint32(8 + 4 * params.size()));
        for (quint32 p : params)
            u32(records, p);
    };
    record(39, {1, 0, colour, 0});                           // CREATEBRUSHINDIRECT
    record(37, {1});                                         // SELECTOBJECT
    record(43, {0, 0, quint32(width / 2), quint32(height)}); // RECTANGLE
    record(14, {0, 16, 20});                                 // EOF
    QByteArray h;
    u32(h, 1);
    u32(h, 88);
    for (quint32 v : {0u, 0u, quint32(width - 1), quint32(height - 1)}) // bounds
        u32(h, v);
    for (quint32 v : {0u, 0u, quint32(width * 2540 / 96), quint32(height * 2540 / 96)}) // frame
        u32(h, v);
    u32(h, 0x464D4520);
    u32(h, 0x10000);
    u32(h, quint32(88 + records.size()));
    u32(h, 5);
    u16(h, 2);
    u16(h, 0);
    u32(h, 0);
    u32(h, 0);
    u32(h, 0);
    u32(h, 1920);
    u32(h, 1080);
    u32(h, 508);
    u32(h, 286);
    return h + records;
}

// A picture of width x height pixels at 96 dpi with count ellipses, each covering all of
// it: tiny files that ask for a great deal of drawing.
inline QByteArray WmfEllipses(int width, int height, int count) {
    QByteArray records;
    for (int i = 0; i < count; ++i) {
        u32(records, 7);
        u16(records, 0x0418); // ELLIPSE bottom, right, top, left
        for (quint16 v : {quint16(height), quint16(width), quint16(0), quint16(0)})
            u16(records, v);
    }
    u32(records, 3);
    u16(records, 0); // EOF
    QByteArray b;
    u32(b, 0x9AC6CDD7);
    for (quint16 v :
         {quint16(0), quint16(0), quint16(0), quint16(width), quint16(height), quint16(96)})
        u16(b, v);
    u32(b, 0);
    u16(b, 0);
    for (quint16 v : {quint16(1), quint16(9), quint16(0x0300)})
        u16(b, v);
    u32(b, quint32((18 + records.size()) / 2));
    u16(b, 0);
    u32(b, 7);
    u16(b, 0);
    return b + records;
}

inline QByteArray EmfEllipses(int width, int height, int count) {
    QByteArray withOne = Emf(width, height);
    // Keep the header (88 bytes) and replace the records.
    QByteArray records;
    for (int i = 0; i < count; ++i)
        for (quint32 v : {42u, 24u, 0u, 0u, quint32(width), quint32(height)})
            u32(records, v);
    for (quint32 v : {14u, 20u, 0u, 16u, 20u})
        u32(records, v);
    QByteArray h = withOne.left(88);
    const quint32 total = quint32(88 + records.size());
    h[48] = char(total & 0xFF);
    h[49] = char((total >> 8) & 0xFF);
    h[50] = char((total >> 16) & 0xFF);
    h[51] = char((total >> 24) & 0xFF);
    return h + records;
}

} // namespace samples
