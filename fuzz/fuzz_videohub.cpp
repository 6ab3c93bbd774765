// Bytes from a router control client to blocks and requests, with the reader's invariants: the
// same blocks however the bytes are cut, every bound kept, and only valid routes asked for.
#include "blockreader.h"
#include "videohubprotocol.h"
#include "videohubrequest.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says where the bytes are cut, as the network might cut them.
    const qsizetype piece = 1 + data[0] % 64;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    BlockReader whole;
    const BlockReader::Read all = whole.feed(bytes);
    BlockReader cut;
    QList<VideohubBlock> pieces;
    BlockReader::Fault fault = BlockReader::Fault::None;
    for (qsizetype from = 0; from < bytes.size() && fault == BlockReader::Fault::None; from += piece) {
        const BlockReader::Read read = cut.feed(QByteArrayView(bytes).sliced(from, std::min(piece, bytes.size() - from)));
        pieces += read.blocks;
        fault = read.fault;
    }
    check(pieces == all.blocks, "the same blocks however the bytes are cut");
    check((fault == BlockReader::Fault::None) == (all.fault == BlockReader::Fault::None),
          "a fault however the bytes are cut");

    for (const VideohubBlock& block : all.blocks) {
        check(!block.header.isEmpty(), "a block has a header");
        check(block.items.size() <= videohub::kMaxItems, "at most 64 items");
        const QStringList lines = QStringList(block.items) << block.header;
        for (const QString& line : lines) {
            check(!line.isEmpty(), "no empty line inside a block");
            check(line.toUtf8().size() <= videohub::kMaxLineBytes, "lines within the bound");
            for (const QChar c : line)
                check(c == u'\t' || (c.unicode() >= 0x20 && c.unicode() != 0x7F), "text only");
        }
        BlockReader again;
        check(again.feed(block.encoded()).blocks == QList<VideohubBlock>{block},
              "a block reads back as it is written");

        const VideohubRequest request = VideohubRequest::parse(block);
        check(request.kind == VideohubRequest::Kind::Routes || request.routes.isEmpty(),
              "routes only from a routing request");
        if (request.kind == VideohubRequest::Kind::Routes) {
            check(request.header == videohub::kOutputRouting, "routes only from their block");
            check(request.routes.size() == block.items.size(), "one route per item");
        }
        for (const VideohubRequest::Route& route : request.routes)
            check(route.output >= 1 && route.output <= 4 && route.input >= 1 && route.input <= 4,
                  "routes in range");
    }
    return 0;
}
