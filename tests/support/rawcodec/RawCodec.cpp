#include "RawCodec.h"

#include "FPixmap.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <queue>
#include <stdexcept>
#include <string>

namespace rawcodec
{

namespace
{

uint16_t Get16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(uint8_t(v >> (8 * i)));
    }
}

uint16_t Channel(const FPixmap& image, int x, int y, int c)
{
    return Get16(image.GetRowAddress(y) + 6 * x + 2 * c);
}

void CheckType(const FPixmap& image, int type, int format)
{
    if (image.GetPixelType() != type) {
        throw std::invalid_argument("pixmap type does not suit format " + std::to_string(format));
    }
}

// Packed planes: `planes` sample rows padded to whole groups, each packed and then
// padded with zero bytes to `planeBytes`.
void AppendPlane(std::vector<uint8_t>& row, const std::vector<uint16_t>& samples, size_t planeBytes)
{
    std::vector<uint8_t> packed;
    Pack12(samples.data(), samples.size(), packed);
    if (packed.size() > planeBytes) {
        throw std::logic_error("plane larger than its room");
    }
    packed.resize(planeBytes, 0);
    row.insert(row.end(), packed.begin(), packed.end());
}

size_t PackedBytes(size_t samples)
{
    return (samples + 7) / 8 * 12;
}

} // namespace

void BitWriter::Put(uint32_t bits, int count)
{
    for (int i = count - 1; i >= 0; --i) {
        if (m_iFree == 8) {
            m_bytes.push_back(0);
        }
        --m_iFree;
        m_bytes.back() |= uint8_t(((bits >> i) & 1) << m_iFree);
        if (m_iFree == 0) {
            m_iFree = 8;
        }
    }
}

void BitWriter::PadToByte()
{
    m_iFree = 8;
}

void BitWriter::PadBytesTo(size_t n)
{
    PadToByte();
    while (m_bytes.size() % n != 0) {
        m_bytes.push_back(0);
    }
}

std::vector<uint32_t> HuffmanCode::TableWords() const
{
    std::vector<uint32_t> words(m_lengths.size());
    for (size_t s = 0; s < words.size(); ++s) {
        words[s] = uint32_t(m_lengths[s]) << 27 | m_codes[s];
    }
    return words;
}

void HuffmanCode::Encode(BitWriter& out, uint16_t symbol) const
{
    if (symbol >= m_lengths.size() || m_lengths[symbol] == 0) {
        throw std::invalid_argument("symbol without a code: " + std::to_string(symbol));
    }
    out.Put(m_codes[symbol], m_lengths[symbol]);
}

HuffmanCode CanonicalCode(const std::vector<uint8_t>& lengths)
{
    HuffmanCode code;
    code.m_lengths = lengths;
    code.m_codes.assign(lengths.size(), 0);
    uint64_t next = 0;
    int previous = 0;
    for (int len = 1; len <= 31; ++len) {
        for (size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] != len) {
                continue;
            }
            next <<= (len - previous);
            previous = len;
            if (next >> len) {
                throw std::invalid_argument("code lengths are over-subscribed");
            }
            code.m_codes[s] = uint32_t(next);
            ++next;
        }
    }
    return code;
}

std::vector<uint8_t> LengthsFromFrequencies(const std::vector<uint64_t>& frequencies, int maxLength)
{
    std::vector<uint64_t> freq = frequencies;
    for (;;) {
        std::vector<uint8_t> lengths(freq.size(), 0);
        struct Node {
            uint64_t m_weight;
            int m_left;
            int m_right;
            int m_symbol;
        };
        std::vector<Node> nodes;
        using Item = std::pair<uint64_t, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue;
        for (size_t s = 0; s < freq.size(); ++s) {
            if (freq[s] > 0) {
                nodes.push_back({freq[s], -1, -1, int(s)});
                queue.push({freq[s], int(nodes.size() - 1)});
            }
        }
        if (nodes.empty()) {
            return lengths;
        }
        if (nodes.size() == 1) {
            lengths[nodes[0].m_symbol] = 1;
            return lengths;
        }
        while (queue.size() > 1) {
            const Item a = queue.top();
            queue.pop();
            const Item b = queue.top();
            queue.pop();
            nodes.push_back({a.first + b.first, a.second, b.second, -1});
            queue.push({a.first + b.first, int(nodes.size() - 1)});
        }
        int longest = 0;
        std::vector<std::pair<int, int>> stack{{queue.top().second, 0}};
        while (!stack.empty()) {
            const auto [index, depth] = stack.back();
            stack.pop_back();
            const Node& n = nodes[index];
            if (n.m_symbol >= 0) {
                lengths[n.m_symbol] = uint8_t(depth);
                longest = std::max(longest, depth);
                continue;
            }
            stack.push_back({n.m_left, depth + 1});
            stack.push_back({n.m_right, depth + 1});
        }
        if (longest <= maxLength) {
            return lengths;
        }
        // Flatter frequencies give shorter longest codes.
        for (auto& f : freq) {
            if (f > 0) {
                f = f / 2 + 1;
            }
        }
    }
}

void Pack12(const uint16_t* samples, size_t count, std::vector<uint8_t>& out)
{
    for (size_t g = 0; g < count; g += 8) {
        uint16_t s[8] = {};
        for (size_t i = 0; i < 8 && g + i < count; ++i) {
            s[i] = samples[g + i] & 0xFFF;
        }
        const uint32_t w0 = uint32_t(s[0]) << 20 | uint32_t(s[1]) << 8 | uint32_t(s[2]) >> 4;
        const uint32_t w1 =
            uint32_t(s[2] & 0xF) << 28 | uint32_t(s[3]) << 16 | uint32_t(s[4]) << 4 | s[5] >> 8;
        const uint32_t w2 = uint32_t(s[5] & 0xFF) << 24 | uint32_t(s[6]) << 12 | s[7];
        Put32(out, w0);
        Put32(out, w1);
        Put32(out, w2);
    }
}

std::vector<int16_t> DefaultValueTable()
{
    std::vector<int16_t> table(1024);
    for (int i = 0; i < 1024; ++i) {
        table[i] = int16_t(i < 512 ? i : i - 1024);
    }
    return table;
}

EncodedImage PackSampleRows(int format, int cols, const std::vector<std::vector<uint16_t>>& rows)
{
    EncodedImage e;
    e.m_iFormat = format;
    e.m_iCols = cols;
    e.m_iRows = int(rows.size());
    size_t longest = 0;
    for (const auto& r : rows) {
        longest = std::max(longest, r.size());
    }
    e.m_iRowSize = int(PackedBytes(longest));
    for (const auto& r : rows) {
        AppendPlane(e.m_payload, r, size_t(e.m_iRowSize));
    }
    return e;
}

EncodedImage EncodeHuffmanRows(int format, int cols, const std::vector<std::vector<uint16_t>>& rows,
                               const HuffmanCode& code, const std::vector<int16_t>& valueTable)
{
    if (format != 6 && format != 11) {
        throw std::invalid_argument("not a Huffman format");
    }
    const size_t n = format == 6 ? 1024 : 256;
    if (code.m_lengths.size() != n) {
        throw std::invalid_argument("code does not suit the format's symbols");
    }
    EncodedImage e;
    e.m_iFormat = format;
    e.m_iCols = cols;
    e.m_iRows = int(rows.size());
    e.m_iRowSize = 0;
    std::vector<uint8_t>& out = e.m_payload;
    if (format == 6) {
        const std::vector<int16_t> table = valueTable.empty() ? DefaultValueTable() : valueTable;
        for (size_t i = 0; i < n; ++i) {
            Put16(out, uint16_t(table[i]));
        }
    }
    for (uint32_t w : code.TableWords()) {
        Put32(out, w);
    }
    BitWriter data;
    std::vector<uint32_t> starts;
    for (const auto& r : rows) {
        starts.push_back(uint32_t(data.Bytes().size()));
        for (uint16_t s : r) {
            code.Encode(data, s);
        }
        data.PadBytesTo(4);
    }
    out.insert(out.end(), data.Bytes().begin(), data.Bytes().end());
    for (uint32_t s : starts) {
        Put32(out, s);
    }
    return e;
}

namespace
{

EncodedImage EncodeHuffmanImage(int format, const FPixmap& image, const EncodeOptions& options)
{
    const int cols = image.GetCols();
    const int rows = image.GetRows();
    const size_t n = format == 6 ? 1024 : 256;
    std::vector<int16_t> table = options.m_valueTable.empty() ? DefaultValueTable() : options.m_valueTable;
    std::map<int16_t, uint16_t> codeOf;
    for (size_t i = n; i-- > 0;) {
        codeOf[table[i]] = uint16_t(i);
    }
    std::vector<std::vector<uint16_t>> symbolRows(static_cast<size_t>(rows));
    std::vector<uint64_t> freq(n, 0);
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = image.GetRowAddress(y);
        int prev[3] = {0, 0, 0};
        auto& symbols = symbolRows[size_t(y)];
        for (int x = 0; x < cols; ++x) {
            for (int c = 0; c < 3; ++c) {
                uint16_t s;
                if (format == 11) {
                    const int v = row[3 * x + c];
                    s = uint16_t((v - prev[c]) & 0xFF);
                    prev[c] = v;
                } else {
                    const int v = int16_t(Get16(row + 6 * x + 2 * c));
                    const int16_t diff = int16_t(uint16_t(v - prev[c]));
                    const auto it = codeOf.find(diff);
                    if (it == codeOf.end()) {
                        throw std::invalid_argument("difference not in the value table");
                    }
                    s = it->second;
                    prev[c] = v;
                }
                symbols.push_back(s);
                ++freq[s];
            }
        }
    }
    const std::vector<uint8_t> lengths =
        options.m_codeLengths.empty() ? LengthsFromFrequencies(freq) : options.m_codeLengths;
    return EncodeHuffmanRows(format, cols, symbolRows, CanonicalCode(lengths), table);
}

EncodedImage EncodeM4(const FPixmap& image, const EncodeOptions& options)
{
    const int cols = image.GetCols();
    const int rows = image.GetRows();
    std::vector<uint8_t> lengths = options.m_categoryLengths;
    if (lengths.empty()) {
        lengths = {2, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9, 9};
    }
    if (lengths.size() != 13) {
        throw std::invalid_argument("13 category lengths expected");
    }
    const HuffmanCode code = CanonicalCode(lengths);
    EncodedImage e;
    e.m_iFormat = 30;
    e.m_iCols = cols;
    e.m_iRows = rows;
    e.m_iRowSize = 6 * cols;
    std::vector<uint8_t> planes[3];
    for (int c = 0; c < 3; ++c) {
        BitWriter bits;
        for (int m = 0; m < rows; ++m) {
            for (int j = 0; j < cols; ++j) {
                const int value = int16_t(Channel(image, j, m, c));
                if (value < 0 || value > 4095) {
                    throw std::invalid_argument("format 30 holds values from 0 to 4095");
                }
                int prediction = options.m_firstPredictor[c] & 0x3FF;
                if (j >= 2) {
                    prediction = int16_t(Channel(image, j - 2, m, c));
                } else if (m >= 2) {
                    prediction = int16_t(Channel(image, j, m - 2, c));
                }
                const int d = value - prediction;
                int category = 0;
                for (int a = d < 0 ? -d : d; a != 0; a >>= 1) {
                    ++category;
                }
                code.Encode(bits, uint16_t(category));
                if (category > 0) {
                    const int v = d > 0 ? d : d + (1 << category) - 1;
                    bits.Put(uint32_t(v), category);
                }
            }
        }
        bits.PadToByte();
        planes[c] = bits.Bytes();
    }
    std::vector<uint8_t>& out = e.m_payload;
    for (int c = 0; c < 3; ++c) {
        Put16(out, options.m_firstPredictor[c]);
    }
    Put16(out, 0);
    for (int i = 0; i < 14; ++i) {
        const int len = i < 13 ? lengths[i] : 0;
        Put16(out, len == 0 ? 0 : uint16_t((code.m_codes[i] << (12 - len)) << 4 | len));
    }
    for (int c = 0; c < 3; ++c) {
        Put32(out, uint32_t(planes[c].size()));
    }
    for (int c = 0; c < 3; ++c) {
        const size_t start = out.size();
        out.insert(out.end(), planes[c].begin(), planes[c].end());
        if (c < 2) {
            out.resize(start + M4PlanePadding(planes[c].size()), 0);
        }
    }
    return e;
}

} // namespace

EncodedImage EncodeImage(int format, const FPixmap& image, const EncodeOptions& options)
{
    const int W = image.GetCols();
    const int H = image.GetRows();
    EncodedImage e;
    e.m_iFormat = format;
    e.m_iCols = W;
    e.m_iRows = H;
    std::vector<uint8_t>& out = e.m_payload;

    auto straight = [&](int type, int bytesPerPixel) {
        CheckType(image, type, format);
        e.m_iRowSize = W * bytesPerPixel;
        for (int y = 0; y < H; ++y) {
            const uint8_t* row = image.GetRowAddress(y);
            out.insert(out.end(), row, row + e.m_iRowSize);
        }
    };
    auto g = [&](int x, int y) { return Channel(image, x, y, 1); };
    auto r = [&](int x, int y) { return Channel(image, x, y, 0); };
    auto b = [&](int x, int y) { return Channel(image, x, y, 2); };

    switch (format) {
    case 0:
        straight(FPixmap::PIXEL_48_RGB, 6);
        return e;
    case 1:
        straight(FPixmap::PIXEL_30_RGB, 4);
        return e;
    case 3:
        straight(FPixmap::PIXEL_24_RGB, 3);
        return e;
    case 8:
        straight(FPixmap::PIXEL_16_MONO, 2);
        return e;
    case 29:
        straight(FPixmap::PIXEL_48S_RGB, 6);
        return e;
    case 6:
        CheckType(image, FPixmap::PIXEL_48S_RGB, format);
        return EncodeHuffmanImage(6, image, options);
    case 11:
        CheckType(image, FPixmap::PIXEL_24_RGB, format);
        return EncodeHuffmanImage(11, image, options);
    case 30:
        CheckType(image, FPixmap::PIXEL_48S_RGB, format);
        return EncodeM4(image, options);
    case 4: {
        CheckType(image, FPixmap::PIXEL_48_RGB, format);
        e.m_iRowSize = int(PackedBytes(size_t(3) * W));
        for (int y = 0; y < H; ++y) {
            std::vector<uint16_t> s;
            for (int x = 0; x < W; ++x) {
                s.insert(s.end(), {r(x, y), g(x, y), b(x, y)});
            }
            AppendPlane(out, s, size_t(e.m_iRowSize));
        }
        return e;
    }
    case 5: {
        CheckType(image, FPixmap::PIXEL_48S_RGB, format);
        const std::vector<int16_t> table =
            options.m_valueTable.empty() ? DefaultValueTable() : options.m_valueTable;
        std::map<int16_t, uint32_t> codeOf;
        for (size_t i = 1024; i-- > 0;) {
            codeOf[table[i]] = uint32_t(i);
            Put16(out, 0); // room, filled below in order
        }
        for (size_t i = 0; i < 1024; ++i) {
            out[2 * i] = uint8_t(table[i]);
            out[2 * i + 1] = uint8_t(uint16_t(table[i]) >> 8);
        }
        e.m_iRowSize = 4 * W;
        for (int y = 0; y < H; ++y) {
            int prev[3] = {0, 0, 0};
            for (int x = 0; x < W; ++x) {
                uint32_t word = 0;
                for (int c = 0; c < 3; ++c) {
                    const int v = int16_t(Channel(image, x, y, c));
                    const auto it = codeOf.find(int16_t(uint16_t(v - prev[c])));
                    if (it == codeOf.end()) {
                        throw std::invalid_argument("difference not in the value table");
                    }
                    word |= it->second << (20 - 10 * c);
                    prev[c] = v;
                }
                Put32(out, word);
            }
        }
        return e;
    }
    case 9: {
        CheckType(image, FPixmap::PIXEL_16_MONO, format);
        e.m_iRowSize = int(PackedBytes(size_t(W)));
        for (int y = 0; y < H; ++y) {
            const uint8_t* row = image.GetRowAddress(y);
            std::vector<uint16_t> s;
            for (int x = 0; x < W; ++x) {
                s.push_back(Get16(row + 2 * x));
            }
            AppendPlane(out, s, size_t(e.m_iRowSize));
        }
        return e;
    }
    case 12: {
        CheckType(image, FPixmap::PIXEL_48_RGB, format);
        e.m_iRowSize = 6 * W;
        for (int y = 0; y < H; ++y) {
            for (int c = 0; c < 3; ++c) {
                for (int x = 0; x < W; ++x) {
                    Put16(out, Channel(image, x, y, c));
                }
            }
        }
        return e;
    }
    case 13:
    case 24: {
        CheckType(image, FPixmap::PIXEL_48_RGB, format);
        const size_t plane = PackedBytes(size_t(W));
        e.m_iRowSize = int(3 * plane);
        const int order13[3] = {0, 1, 2};
        const int order24[3] = {1, 2, 0};
        const int* order = format == 13 ? order13 : order24;
        for (int y = 0; y < H; ++y) {
            for (int k = 0; k < 3; ++k) {
                std::vector<uint16_t> s;
                for (int x = 0; x < W; ++x) {
                    s.push_back(Channel(image, x, y, order[k]));
                }
                AppendPlane(out, s, plane);
            }
        }
        return e;
    }
    case 14:
    case 16:
    case 17: {
        const bool mono = format == 17;
        CheckType(image, mono ? FPixmap::PIXEL_16_MONO : FPixmap::PIXEL_48_RGB, format);
        const int C = W / 2;
        e.m_iCols = C;
        e.m_iRows = H / 2;
        const int planes = mono ? 4 : 6;
        const size_t plane = format == 14 ? size_t(2) * C : PackedBytes(size_t(C));
        e.m_iRowSize = int(planes * plane);
        auto mono16 = [&](int x, int y) { return Get16(image.GetRowAddress(y) + 2 * x); };
        for (int i = 0; i < H / 2; ++i) {
            std::vector<uint16_t> s[6];
            for (int k = 0; k < C; ++k) {
                const int x0 = 2 * k;
                const int y0 = 2 * i;
                if (mono) {
                    s[0].push_back(mono16(x0, y0));
                    s[1].push_back(mono16(x0 + 1, y0));
                    s[2].push_back(mono16(x0, y0 + 1));
                    s[3].push_back(mono16(x0 + 1, y0 + 1));
                    continue;
                }
                s[0].push_back(g(x0, y0));
                s[1].push_back(g(x0 + 1, y0));
                s[2].push_back(g(x0, y0 + 1));
                s[3].push_back(g(x0 + 1, y0 + 1));
                s[4].push_back(b(x0, y0));
                s[5].push_back(r(x0, y0));
            }
            for (int p = 0; p < planes; ++p) {
                if (format == 14) {
                    for (uint16_t v : s[p]) {
                        Put16(out, v);
                    }
                    continue;
                }
                AppendPlane(out, s[p], plane);
            }
        }
        return e;
    }
    case 20:
    case 21:
    case 22: {
        CheckType(image, FPixmap::PIXEL_48_RGB, format);
        const bool twoRows = format != 21;
        e.m_iRows = twoRows ? H / 2 : H;
        const int groups = format == 22 ? (W + 7) / 8 : (W / 2 + 7) / 8;
        // Plane fractions: 20 = 1/3, 1/3, 1/6, 1/6; 21 = 1/2, 1/4, 1/4; 22 = 1/4 each.
        const size_t g12 = size_t(groups) * 12;
        e.m_iRowSize = int(format == 20 ? 6 * g12 : 4 * g12);
        const size_t greenPlane = format == 22 ? g12 : 2 * g12;
        for (int i = 0; i < e.m_iRows; ++i) {
            const int y0 = twoRows ? 2 * i : i;
            std::vector<uint16_t> g0, g1, bs, rs;
            for (int x = 0; x < W; ++x) {
                g0.push_back(g(x, y0));
                if (twoRows) {
                    g1.push_back(g(x, y0 + 1));
                }
            }
            const int chroma = format == 22 ? W : (W + 1) / 2;
            for (int c = 0; c < chroma; ++c) {
                const int x = format == 22 ? c : 2 * c;
                bs.push_back(b(x, y0));
                rs.push_back(r(x, y0));
            }
            AppendPlane(out, g0, greenPlane);
            if (twoRows) {
                AppendPlane(out, g1, greenPlane);
            }
            AppendPlane(out, bs, g12);
            AppendPlane(out, rs, g12);
        }
        return e;
    }
    }
    throw std::invalid_argument("no encoder for format " + std::to_string(format));
}

} // namespace rawcodec
