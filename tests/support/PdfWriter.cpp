#include "support/PdfWriter.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <set>
#include <stdexcept>

#include <zlib.h>

#include "security/uMD5.h"
#include "security/uCrypto.h"
#include "security/uPDFSecurity.h"
#include "security/uRC4.h"

namespace tolvane_test {

namespace {

// The 32-byte padding string of the standard security handler.
const std::string kPad("\x28\xBF\x4E\x5E\x4E\x75\x8A\x41\x64\x00\x4E\x56\xFF\xFA\x01\x08"
                       "\x2E\x2E\x00\xB6\xD0\x68\x3E\x80\x2F\x0C\xA9\xFE\x64\x53\x69\x7A",
                       32);

template <typename T> std::string num(T value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string padded(std::int64_t value, int width) {
    std::string digits = num(value);
    if (int(digits.size()) < width)
        digits.insert(0, std::size_t(width) - digits.size(), '0');
    return digits;
}

std::string hexOf(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool isWhite(char c) {
    return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}

bool isDelimiter(char c) {
    return std::strchr("()<>[]{}/%", c) != nullptr && c != 0;
}

// Whether the dictionary text already has a `Length` key (not `Length1` and the like).
bool hasLengthKey(std::string_view dict) {
    for (std::size_t at = dict.find("/Length"); at != std::string_view::npos;
         at = dict.find("/Length", at + 1)) {
        std::size_t end = at + 7;
        if (end >= dict.size() || isWhite(dict[end]) || isDelimiter(dict[end]))
            return true;
    }
    return false;
}

// The bytes of a literal string between its outer parentheses, decoded the way the file
// parser decodes them, so that an encrypted file decrypts to what the plain file reads as.
std::string decodeLiteral(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\r') {
            out += '\n';
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
            continue;
        }
        if (c != '\\' || i + 1 >= raw.size()) {
            out += c;
            continue;
        }
        char e = raw[i + 1];
        if (e >= '0' && e <= '9') {
            int value = 0;
            std::size_t j = i + 1;
            for (int k = 0; k < 3 && j < raw.size() && raw[j] >= '0' && raw[j] <= '9'; ++k, ++j)
                value = value * 8 + (raw[j] - '0');
            out += char(value & 0xff);
            i = j - 1;
            continue;
        }
        switch (e) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case '(':
        case ')':
        case '\\':
            out += e;
            break;
        case '\n':
            break;
        case '\r':
            if (i + 2 < raw.size() && raw[i + 2] == '\n')
                ++i;
            break;
        default:
            // An unknown escape keeps both bytes.
            out += c;
            out += e;
            break;
        }
        ++i;
    }
    return out;
}

std::string decodeHex(std::string_view raw) {
    std::string digits;
    for (char c : raw) {
        if (c >= 'a' && c <= 'f')
            c = char(c - 'a' + 'A');
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))
            digits += c;
    }
    if (digits.size() % 2)
        digits += '0';
    std::string out;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        auto value = [](char h) { return h <= '9' ? h - '0' : h - 'A' + 10; };
        out += char(value(digits[i]) * 16 + value(digits[i + 1]));
    }
    return out;
}

// Rewrites every literal and hex string of an object body as a hex string of its RC4
// encryption. Comments are copied; a bare `stream` keyword ends the scan (raw stream data in a
// body is left as it is: stream data belongs in SetStream).
template <typename Cipher>
std::string encryptStrings(std::string_view body, const Cipher& cipher) {
    std::string out;
    std::size_t i = 0;
    while (i < body.size()) {
        char c = body[i];
        if (c == '%') {
            std::size_t end = body.find_first_of("\r\n", i);
            end = end == std::string_view::npos ? body.size() : end;
            out.append(body.substr(i, end - i));
            i = end;
        } else if (c == '(') {
            int depth = 1;
            std::size_t j = i + 1;
            for (; j < body.size() && depth > 0; ++j) {
                if (body[j] == '(')
                    ++depth;
                else if (body[j] == ')')
                    --depth;
                else if (body[j] == '\\' && j + 1 < body.size())
                    ++j;
            }
            std::size_t inner = depth == 0 ? j - i - 2 : body.size() - i - 1;
            out += '<' + hexOf(cipher(decodeLiteral(body.substr(i + 1, inner)))) + '>';
            i = j;
        } else if (c == '<' && i + 1 < body.size() && body[i + 1] == '<') {
            out += "<<";
            i += 2;
        } else if (c == '<') {
            std::size_t end = body.find('>', i);
            end = end == std::string_view::npos ? body.size() : end;
            out += '<' + hexOf(cipher(decodeHex(body.substr(i + 1, end - i - 1)))) + '>';
            i = std::min(end + 1, body.size());
        } else if (body.compare(i, 6, "stream") == 0 &&
                   (i == 0 || isWhite(body[i - 1]) || isDelimiter(body[i - 1]))) {
            out.append(body.substr(i));
            i = body.size();
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

std::string lowBytes(std::uint32_t value, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += char((value >> (8 * i)) & 0xff);
    return out;
}

std::string padPassword(std::string_view password) {
    return (std::string(password.substr(0, 32)) + kPad).substr(0, 32);
}

std::string xorKey(const std::string& key, int value) {
    std::string out = key;
    for (char& c : out)
        c = char(c ^ value);
    return out;
}

struct SecurityValues {
    std::string O, U, FileKey;
};

// The O and U entries and the file key of the standard security handler (RC4, revisions 2
// and 3). The key length comes from KeyBits, except that version 1 is always 40-bit.
SecurityValues computeSecurity(const EncryptionParams& p) {
    int keyBytes = p.Version == 1 ? 5 : std::clamp(p.KeyBits / 8, 5, 16);
    bool rev3 = p.Revision >= 3;
    const std::string& owner = p.OwnerPassword.empty() ? p.UserPassword : p.OwnerPassword;

    std::string digest = korvel::MD5(padPassword(owner));
    if (rev3)
        for (int i = 0; i < 50; ++i)
            digest = korvel::MD5(digest);
    std::string ownerKey = digest.substr(0, std::size_t(keyBytes));
    SecurityValues v;
    v.O = korvel::RC4(ownerKey, padPassword(p.UserPassword));
    if (rev3)
        for (int i = 1; i <= 19; ++i)
            v.O = korvel::RC4(xorKey(ownerKey, i), v.O);

    digest = korvel::MD5(padPassword(p.UserPassword) + v.O +
                         lowBytes(std::uint32_t(p.Permissions), 4) + p.ID0 +
                         (p.Revision >= 4 && !p.EncryptMetadata ? "\xFF\xFF\xFF\xFF" : ""));
    if (rev3)
        for (int i = 0; i < 50; ++i)
            digest = korvel::MD5(digest.substr(0, std::size_t(keyBytes)));
    v.FileKey = digest.substr(0, std::size_t(keyBytes));

    if (rev3) {
        v.U = korvel::RC4(v.FileKey, korvel::MD5(kPad + p.ID0));
        for (int i = 1; i <= 19; ++i)
            v.U = korvel::RC4(xorKey(v.FileKey, i), v.U);
        v.U += std::string(16, '\0');
    } else {
        v.U = korvel::RC4(v.FileKey, kPad);
    }
    return v;
}

int bytesFor(std::uint64_t value) {
    int n = 1;
    while (n < 8 && (value >> (8 * n)) != 0)
        ++n;
    return n;
}

// The runs of consecutive numbers, as (first, count) pairs.
std::vector<std::pair<int, int>> runsOf(const std::vector<int>& sortedNumbers) {
    std::vector<std::pair<int, int>> runs;
    for (int n : sortedNumbers) {
        if (!runs.empty() && runs.back().first + runs.back().second == n)
            ++runs.back().second;
        else
            runs.push_back({n, 1});
    }
    return runs;
}

// The offset a reader takes from the file: the digits right before the last `%%EOF`.
std::int64_t lastStartXRef(const std::string& file) {
    std::size_t eof = file.rfind("%%EOF");
    if (eof == std::string::npos)
        return 0;
    std::size_t end = eof;
    while (end > 0 && isWhite(file[end - 1]))
        --end;
    std::size_t begin = end;
    while (begin > 0 && file[begin - 1] >= '0' && file[begin - 1] <= '9')
        --begin;
    std::int64_t value = 0;
    std::from_chars(file.data() + begin, file.data() + end, value);
    return value;
}

// The number after the last "/Size" (0 when there is none), and the text of the last
// "/Root n g R".
int lastSize(const std::string& file) {
    std::size_t at = file.rfind("/Size");
    if (at == std::string::npos)
        return 0;
    at += 5;
    while (at < file.size() && isWhite(file[at]))
        ++at;
    int value = 0;
    std::from_chars(file.data() + at, file.data() + file.size(), value);
    return value;
}

std::string lastRoot(const std::string& file) {
    std::size_t at = file.rfind("/Root");
    if (at == std::string::npos)
        return {};
    std::size_t end = file.find('R', at + 5);
    if (end == std::string::npos)
        return {};
    return file.substr(at, end + 1 - at);
}

struct Entry {
    int Type = 1; // 0 free, 1 in use, 2 compressed
    std::int64_t Field2 = 0;
    std::int64_t Field3 = 0;
};

} // namespace

std::string Deflate(std::string_view data) {
    uLongf size = compressBound(uLong(data.size()));
    std::string out(size, '\0');
    int rc = compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                       reinterpret_cast<const Bytef*>(data.data()), uLong(data.size()), 9);
    if (rc != Z_OK)
        throw std::runtime_error("deflate failed");
    out.resize(size);
    return out;
}

void PdfWriter::Set(int num, std::string body, int gen) {
    Obj& obj = FObjs[num];
    int container = obj.Container;
    obj = Obj{};
    obj.Gen = gen;
    obj.Body = std::move(body);
    obj.Container = container;
}

void PdfWriter::SetStream(int num, std::string dictEntries, std::string data, int gen) {
    Obj& obj = FObjs[num];
    int container = obj.Container;
    obj = Obj{};
    obj.Gen = gen;
    obj.Body = std::move(dictEntries);
    obj.Data = std::move(data);
    obj.IsStream = true;
    obj.Container = container;
}

int PdfWriter::NextObjNum() const {
    int highest = 0;
    for (const auto& [num, obj] : FObjs)
        highest = std::max({highest, num, obj.Container});
    if (highest < std::numeric_limits<int>::max())
        return highest + 1;
    // Nothing is left above the highest number: the lowest free one.
    int free = 1;
    while (FObjs.count(free))
        ++free;
    return free;
}

int PdfWriter::Add(std::string body) {
    int num = NextObjNum();
    Set(num, std::move(body));
    return num;
}

int PdfWriter::AddStream(std::string dictEntries, std::string data) {
    int num = NextObjNum();
    SetStream(num, std::move(dictEntries), std::move(data));
    return num;
}

void PdfWriter::Compress(int num, int container) {
    FObjs[num].Container = container;
}

// Version 5: a fixed 32-byte file key, U/UE and O/OE from fixed salts, Perms.
SecurityValues computeSecurityV5(const EncryptionParams& p, std::string& ue, std::string& oe,
                                 std::string& perms) {
    SecurityValues v;
    v.FileKey = korvel::Sha256("file key of " + p.ID0);
    const std::string zero(16, '\0');
    const std::string& owner = p.OwnerPassword.empty() ? p.UserPassword : p.OwnerPassword;
    const std::string user = p.UserPassword.substr(0, 127);
    const std::string own = owner.substr(0, 127);
    v.U = korvel::HashV5(user, "uvsalt01", "", p.Revision) + "uvsalt01" + "uksalt02";
    ue = korvel::AESEncryptCBC(korvel::HashV5(user, "uksalt02", "", p.Revision), zero, v.FileKey);
    v.O = korvel::HashV5(own, "ovsalt03", v.U, p.Revision) + "ovsalt03" + "oksalt04";
    oe = korvel::AESEncryptCBC(korvel::HashV5(own, "oksalt04", v.U, p.Revision), zero, v.FileKey);
    const std::string block = lowBytes(std::uint32_t(p.Permissions), 4) + "\xFF\xFF\xFF\xFF" +
                              (p.EncryptMetadata ? "T" : "F") + "adb" + "0000";
    perms = korvel::AESEncryptCBC(v.FileKey, zero, block);
    return v;
}

void PdfWriter::Encrypt(const EncryptionParams& params) {
    FEncrypt = true;
    FEncryption = params;
    SecurityValues v = params.Version >= 5
                           ? computeSecurityV5(params, FUserKeyEntry, FOwnerKeyEntry, FPermsEntry)
                           : computeSecurity(params);
    FFileKey = v.FileKey;
    FOwnerEntry = v.O;
    FUserEntry = v.U;
}

std::string PdfWriter::ObjectKey(int num, int gen) const {
    if (FEncryption.Version >= 5)
        return FFileKey;
    const bool aes = FEncryption.Version == 4 && FEncryption.Method == "AESV2";
    std::string digest =
        korvel::MD5(FFileKey + lowBytes(std::uint32_t(num), 3) + lowBytes(std::uint32_t(gen), 2) +
                    (aes ? "sAlT" : ""));
    return digest.substr(0, std::min<std::size_t>(FFileKey.size() + 5, 16));
}

std::string PdfWriter::EncryptData(int num, int gen, std::string_view data) const {
    const bool aes = FEncryption.Version >= 5 ||
                     (FEncryption.Version == 4 && FEncryption.Method == "AESV2");
    if (!aes)
        return korvel::RC4(ObjectKey(num, gen), data);
    const std::string iv = korvel::MD5("iv" + lowBytes(std::uint32_t(num), 3) + std::string(data));
    return korvel::AESEncryptPadded(ObjectKey(num, gen), iv, data);
}

std::string PdfWriter::Finish() {
    return write(std::string(), 0, 0);
}

std::string PdfWriter::FinishUpdate(const std::string& base) {
    std::string start = base;
    if (!start.empty() && start.back() != '\n' && start.back() != '\r')
        start += '\n';
    return write(std::move(start), lastStartXRef(base), lastSize(base), lastRoot(base));
}

std::string PdfWriter::write(std::string out, std::int64_t prev, int baseSize,
                             const std::string& baseRoot) {
    const bool update = !out.empty() || prev > 0;
    FOffsets.clear();
    if (!update)
        out = Prefix + Header + "\n%\xE2\xE3\xCF\xD3\n";

    // Compressed objects, grouped by container; streams stay in the file.
    std::map<int, std::vector<int>> containers;
    for (const auto& [num, obj] : FObjs)
        if (obj.Container > 0 && !obj.IsStream && FObjs.count(obj.Container) == 0)
            containers[obj.Container].push_back(num);
    auto compressed = [&](int num) {
        const Obj& obj = FObjs.at(num);
        return obj.Container > 0 && containers.count(obj.Container) > 0;
    };
    XRefForm form = Form;
    if (!containers.empty() && (form == XRefForm::Table))
        form = XRefForm::Stream;

    int next = std::max(NextObjNum(), baseSize);
    for (int freed : FreedObjects)
        next = std::max(next, freed + 1);
    const int encryptNum = FEncrypt ? next++ : 0;

    auto encryptBody = [&](const std::string& body, int num, int gen) {
        if (!FEncrypt)
            return body;
        return encryptStrings(body, [&](std::string_view data) { return EncryptData(num, gen, data); });
    };
    auto streamText = [](const std::string& dict, const std::string& data) {
        std::string dictText = "<<" + dict;
        if (!hasLengthKey(dict))
            dictText += " /Length " + num(data.size());
        return dictText + " >>\nstream\n" + data + "\nendstream";
    };
    auto writeObject = [&](int number, int gen, const std::string& text) {
        FOffsets[number] = std::int64_t(out.size());
        out += num(number) + ' ' + num(gen) + " obj\n" + text + "\nendobj\n";
    };

    // Regular objects and object streams in number order.
    std::set<int> numbers;
    for (const auto& [n, obj] : FObjs)
        if (!compressed(n))
            numbers.insert(n);
    for (const auto& [n, members] : containers)
        numbers.insert(n);
    for (int n : numbers) {
        auto found = FObjs.find(n);
        if (found == FObjs.end()) {
            std::string header, bodies;
            for (int member : containers[n]) {
                header += num(member) + ' ' + num(bodies.size()) + ' ';
                bodies += FObjs.at(member).Body + '\n';
            }
            header += '\n';
            std::string data = Deflate(header + bodies);
            if (FEncrypt)
                data = EncryptData(n, 0, data);
            writeObject(n, 0,
                        streamText(" /Type /ObjStm /N " + num(containers[n].size()) + " /First " +
                                       num(header.size()) + " /Filter /FlateDecode",
                                   data));
            continue;
        }
        const Obj& obj = found->second;
        if (obj.IsStream) {
            const bool clearMetadata = !FEncryption.EncryptMetadata && FEncryption.Version >= 4 &&
                                       obj.Body.find("/Type /Metadata") != std::string::npos;
            std::string data = FEncrypt && !clearMetadata ? EncryptData(n, obj.Gen, obj.Data)
                                                          : obj.Data;
            writeObject(n, obj.Gen, streamText(encryptBody(obj.Body, n, obj.Gen), data));
        } else {
            writeObject(n, obj.Gen, encryptBody(obj.Body, n, obj.Gen));
        }
    }

    if (FEncrypt) {
        const EncryptionParams& p = FEncryption;
        std::string dict = "<< /Filter /Standard /V " + num(p.Version) + " /R " + num(p.Revision);
        if (p.WriteLength && p.Version >= 2)
            dict += " /Length " + num(p.Version >= 5 ? 256 : p.KeyBits);
        if (p.Version >= 4) {
            const std::string method = p.Version >= 5 ? "AESV3" : p.Method;
            dict += " /CF << /StdCF << /CFM /" + method + " /AuthEvent /DocOpen /Length " +
                    num(p.Version >= 5 ? 32 : 16) + " >> >> /StmF /StdCF /StrF /StdCF";
            if (!p.EncryptMetadata)
                dict += " /EncryptMetadata false";
        }
        if (p.Version >= 5)
            dict += " /OE <" + hexOf(FOwnerKeyEntry) + "> /UE <" + hexOf(FUserKeyEntry) +
                    "> /Perms <" + hexOf(FPermsEntry) + ">";
        dict += " /O <" + hexOf(FOwnerEntry) + "> /U <" + hexOf(FUserEntry) + "> /P " +
                num(p.Permissions) + " >>";
        writeObject(encryptNum, 0, dict);
    }

    // The entries of this section.
    std::map<int, Entry> entries;
    for (const auto& [n, offset] : FOffsets) {
        auto found = FObjs.find(n);
        entries[n] = Entry{1, offset, found == FObjs.end() ? 0 : found->second.Gen};
    }
    std::map<int, Entry> compressedEntries;
    for (const auto& [c, members] : containers)
        for (std::size_t i = 0; i < members.size(); ++i)
            compressedEntries[members[i]] = Entry{2, c, std::int64_t(i)};
    for (int freed : FreedObjects)
        if (entries.count(freed) == 0 && compressedEntries.count(freed) == 0)
            entries[freed] = Entry{0, 0, 1};
    if (!update)
        entries[0] = Entry{0, 0, 65535};

    std::string trailer;
    if (RootObj > 0) {
        auto root = FObjs.find(RootObj);
        trailer +=
            " /Root " + num(RootObj) + ' ' + num(root == FObjs.end() ? 0 : root->second.Gen) + " R";
    } else if (update && !baseRoot.empty()) {
        trailer += ' ' + baseRoot;
    }
    if (!TrailerExtra.empty())
        trailer += ' ' + TrailerExtra;
    if (FEncrypt) {
        std::string id = hexOf(FEncryption.ID0);
        trailer += " /Encrypt " + num(encryptNum) + " 0 R /ID [<" + id + "> <" + id + ">]";
    }
    if (prev > 0)
        trailer += " /Prev " + num(prev);

    // Writes a cross-reference stream holding `rows` plus its own entry; returns its offset.
    auto writeXRefStream = [&](std::map<int, Entry> rows, int size, const std::string& extra) {
        const int self = next++;
        const std::int64_t offset = std::int64_t(out.size());
        rows[self] = Entry{1, offset, 0};
        size = std::max(size, self + 1);
        std::int64_t max2 = 0, max3 = 0;
        std::vector<int> keys;
        for (const auto& [n, e] : rows) {
            keys.push_back(n);
            max2 = std::max(max2, e.Field2);
            max3 = std::max(max3, e.Field3);
        }
        const int w2 = bytesFor(std::uint64_t(max2)), w3 = bytesFor(std::uint64_t(max3));
        const int width = 1 + w2 + w3;
        std::string data, previous(std::size_t(width), '\0');
        for (const auto& [n, e] : rows) {
            std::string row(1, char(e.Type));
            for (int i = w2 - 1; i >= 0; --i)
                row += char((std::uint64_t(e.Field2) >> (8 * i)) & 0xff);
            for (int i = w3 - 1; i >= 0; --i)
                row += char((std::uint64_t(e.Field3) >> (8 * i)) & 0xff);
            if (XRefStreamPredictor >= 10) {
                data += char(2); // PNG "up": each byte minus the one above it
                for (int i = 0; i < width; ++i)
                    data += char(row[std::size_t(i)] - previous[std::size_t(i)]);
                previous = row;
            } else {
                data += row;
            }
        }
        std::string dict =
            " /Type /XRef /Size " + num(size) + " /W [1 " + num(w2) + ' ' + num(w3) + "] /Index [";
        bool first = true;
        for (const auto& [start, count] : runsOf(keys)) {
            dict += (first ? "" : " ") + num(start) + ' ' + num(count);
            first = false;
        }
        dict += ']' + extra + " /Filter /FlateDecode";
        if (XRefStreamPredictor >= 10)
            dict += " /DecodeParms << /Predictor " + num(XRefStreamPredictor) + " /Columns " +
                    num(width) + " >>";
        FOffsets[self] = offset;
        out += num(self) + " 0 obj\n" + streamText(dict, Deflate(data)) + "\nendobj\n";
        return offset;
    };

    // Size is one past the highest number, at most the largest 32-bit number.
    auto sizeOf = [&](const std::map<int, Entry>& a, const std::map<int, Entry>& b) {
        std::int64_t size = std::max(baseSize, next);
        if (!a.empty())
            size = std::max<std::int64_t>(size, std::int64_t{a.rbegin()->first} + 1);
        if (!b.empty())
            size = std::max<std::int64_t>(size, std::int64_t{b.rbegin()->first} + 1);
        return static_cast<int>(std::min<std::int64_t>(size, std::numeric_limits<int>::max()));
    };

    if (form == XRefForm::Stream) {
        std::map<int, Entry> rows = entries;
        rows.insert(compressedEntries.begin(), compressedEntries.end());
        // The stream takes its own number inside, and Size grows to count it.
        FXRefOffset = writeXRefStream(rows, sizeOf(rows, {}), trailer);
    } else {
        if (form == XRefForm::Hybrid) {
            std::int64_t streamOffset =
                writeXRefStream(compressedEntries, sizeOf(entries, compressedEntries), "");
            entries[next - 1] = Entry{1, streamOffset, 0};
            trailer += " /XRefStm " + num(streamOffset);
        }
        const int size = sizeOf(entries, compressedEntries);
        FXRefOffset = std::int64_t(out.size());
        if (form != XRefForm::None) {
            out += "xref\n";
            std::vector<int> keys;
            for (const auto& [n, e] : entries)
                keys.push_back(n);
            for (const auto& [start, count] : runsOf(keys)) {
                out += num(start) + ' ' + num(count) + '\n';
                for (std::int64_t n = start; n < std::int64_t{start} + count; ++n) {
                    const Entry& e = entries[static_cast<int>(n)];
                    out += padded(e.Field2, 10) + ' ' + padded(e.Field3, 5) +
                           (e.Type == 0 ? " f" : " n") + EntryEnd;
                }
            }
        } else {
            FXRefOffset = 0;
        }
        out += "trailer\n<< /Size " + num(size) + trailer + " >>\n";
    }
    out += "startxref\n" + num(FXRefOffset + StartXRefDelta) + "\n%%EOF\n";
    return out;
}

std::string MakeSimplePdf(const std::vector<std::string>& pageContents,
                          const SimpleDocOptions& options) {
    PdfWriter w;
    w.Form = options.Form;
    w.RootObj = 1;
    const int count = int(pageContents.size());
    std::string kids;
    for (int i = 0; i < count; ++i)
        kids += (i ? " " : "") + num(3 + 2 * i) + " 0 R";
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + num(count) + " >>");
    const std::string box = "[0 0 " + num(options.Width) + ' ' + num(options.Height) + ']';
    for (int i = 0; i < count; ++i) {
        const int page = 3 + 2 * i;
        w.Set(page, "<< /Type /Page /Parent 2 0 R /MediaBox " + box + " /Contents " +
                        num(page + 1) +
                        " 0 R /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 "
                        "/BaseFont /Helvetica /Encoding /WinAnsiEncoding >> >> >> >>");
        const std::string& content = pageContents[std::size_t(i)];
        if (options.CompressContent)
            w.SetStream(page + 1, " /Filter /FlateDecode", Deflate(content));
        else
            w.SetStream(page + 1, "", content);
    }
    if (options.UseObjectStreams) {
        const int container = w.NextObjNum();
        w.Compress(1, container);
        w.Compress(2, container);
        for (int i = 0; i < count; ++i)
            w.Compress(3 + 2 * i, container);
    }
    if (options.Encrypted)
        w.Encrypt(options.Encryption);
    return w.Finish();
}

} // namespace tolvane_test
