#pragma once
// A small PDF writer for tests: lays out numbered objects with exact offsets and writes classic
// cross-reference tables, cross-reference streams, object streams, hybrid files, incremental
// updates, and encrypted files (RC4 40-bit V1/R2 and 128-bit V2/R3, crypt filters of V4/R4 with
// RC4 or AES-128, AES-256 of V5/R5 and R6), so tests make their files
// instead of shipping binaries. Nothing here validates: tests may write broken files on purpose.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane_test {

// zlib-format deflate of the bytes (level 9).
std::string Deflate(std::string_view data);

enum class XRefForm {
    Table,  // classic `xref` table, entries of 20 bytes (CR LF)
    Stream, // a cross-reference stream object (`Type /XRef`)
    Hybrid, // a classic table whose trailer names an extra stream with `XRefStm`
    None,   // no cross-reference section at all (for broken files)
};

struct EncryptionParams {
    int Revision = 3;  // 2 to 6
    int Version = 2;   // 1 (40-bit), 2, 4 (crypt filters) or 5 (AES-256)
    int KeyBits = 128; // 40 or 128 (written as `Length` when Version is 2)
    bool WriteLength = true;
    std::string UserPassword;
    std::string OwnerPassword;            // empty: same as the user password
    std::int32_t Permissions = -4;        // `P`
    std::string ID0 = "0123456789abcdef"; // first string of the trailer `ID`
    // Version 4: the method of the crypt filter `StdCF` (V2 or AESV2; AESV3 for Version 5).
    std::string Method = "AESV2";
    // Version 4 and 5: false writes `EncryptMetadata false` and leaves `Type /Metadata`
    // streams in clear.
    bool EncryptMetadata = true;
};

class PdfWriter {
public:
    // The header line written first (after Prefix), e.g. "%PDF-1.4".
    std::string Header = "%PDF-1.4";
    // Bytes written before the header (junk before `%PDF-`).
    std::string Prefix;
    // Extra trailer entries in PDF syntax, e.g. "/Info 4 0 R". `Size` and `Root` are written
    // by the writer (Root only when RootObj > 0); `Prev`, `ID` and `Encrypt` as configured.
    std::string TrailerExtra;
    int RootObj = 0;
    XRefForm Form = XRefForm::Table;
    // Line end of classic table entries: "\r\n" (20-byte entries), " \n", " \r" or "\n"
    // (19-byte entries).
    std::string EntryEnd = "\r\n";
    // Predictor used on cross-reference stream data (0 none, 12 PNG up).
    int XRefStreamPredictor = 0;
    // Write the `startxref` offset plus this delta (to test offsets a few bytes off).
    std::int64_t StartXRefDelta = 0;

    // Defines object `num` with the given body (PDF syntax after `N G obj`, before `endobj`).
    void Set(int num, std::string body, int gen = 0);
    // Defines a stream object: the dictionary text without `Length` (inside << >>, may be empty)
    // and the raw data; `/Length n` is added (direct) unless the dictionary already has one.
    void SetStream(int num, std::string dictEntries, std::string data, int gen = 0);
    // Next free object number, then Set / SetStream with it.
    int Add(std::string body);
    int AddStream(std::string dictEntries, std::string data);
    int NextObjNum() const;

    // Puts object `num` into the object stream `container` (created as `Type /ObjStm` when the
    // file is written; its number must not be used by another object). Streams cannot be
    // compressed: a stream, or an object whose container number is itself defined, stays in
    // the file. Forces a cross-reference stream (Form Table becomes Stream; Hybrid stays).
    void Compress(int num, int container);

    // Encrypts strings and streams of every object with RC4 under the object keys, and writes
    // the `Encrypt` dictionary as an extra object and the `ID` array. Strings in bodies are
    // rewritten as hex strings; object streams are encrypted whole, their members not. The keys
    // follow the published algorithms: revision 3 computations when Revision >= 3, a key of
    // KeyBits / 8 bytes (5 for Version 1), `P` as given. Raw stream data written inside a Set()
    // body (after `stream`) is not encrypted: use SetStream.
    void Encrypt(const EncryptionParams& params);

    // Writes the whole file. Offsets() and XRefOffset() describe the result afterwards.
    std::string Finish();

    // Writes an incremental update appended to `base` (the bytes of an earlier Finish of any
    // writer): only this writer's objects, a new section whose trailer has `Prev` to the base
    // file's startxref, and free entries for the numbers in FreedObjects. `Size` is at least the
    // base's last `Size`; without RootObj the base's last `/Root` is repeated, since readers
    // take the root from the newest trailer only. New numbers the writer needs (Encrypt
    // dictionary, cross-reference stream) are taken above the base's `Size`.
    std::string FinishUpdate(const std::string& base);
    std::vector<int> FreedObjects;

    const std::map<int, std::int64_t>& Offsets() const { return FOffsets; }
    std::int64_t XRefOffset() const { return FXRefOffset; }

    // The key of the last Encrypt(), for tests of the security handler.
    const std::string& FileKey() const { return FFileKey; }
    // The `O` and `U` entries of the last Encrypt() (U of revision 3 ends in 16 zero bytes).
    const std::string& OwnerEntry() const { return FOwnerEntry; }
    const std::string& UserEntry() const { return FUserEntry; }
    // The key of one object under FileKey(): MD5 of the key, three bytes of the number and
    // two of the generation (low bytes first) and, for AES-128, "sAlT", cut to the key length
    // + 5, at most 16 bytes; the file key itself for AES-256.
    std::string ObjectKey(int num, int gen) const;
    // Data of one object encrypted as the file's method does it (AES with a fixed IV).
    std::string EncryptData(int num, int gen, std::string_view data) const;

private:
    struct Obj {
        int Gen = 0;
        std::string Body; // for a stream: the dictionary entries
        std::string Data; // stream data
        bool IsStream = false;
        int Container = 0; // object stream holding it, 0 for none
    };
    std::map<int, Obj> FObjs;
    std::map<int, std::int64_t> FOffsets;
    std::int64_t FXRefOffset = 0;
    bool FEncrypt = false;
    EncryptionParams FEncryption;
    std::string FFileKey;
    std::string FOwnerEntry;
    std::string FUserEntry;
    std::string FOwnerKeyEntry; // OE, UE and Perms of Version 5
    std::string FUserKeyEntry;
    std::string FPermsEntry;

    // Writes this writer's objects and a cross-reference section after `out` (empty for a new
    // file); `prev`, `baseSize` and `baseRoot` describe the file being updated.
    std::string write(std::string out, std::int64_t prev, int baseSize,
                      const std::string& baseRoot = {});
};

// A complete document of one or more pages, each with its content stream, for end-to-end tests.
// Objects: 1 catalog, 2 pages, then page/content pairs; MediaBox [0 0 W H].
struct SimpleDocOptions {
    double Width = 612;
    double Height = 792;
    bool CompressContent = false;
    XRefForm Form = XRefForm::Table;
    bool UseObjectStreams = false; // pages and catalog in an object stream
    bool Encrypted = false;
    EncryptionParams Encryption;
};
std::string MakeSimplePdf(const std::vector<std::string>& pageContents,
                          const SimpleDocOptions& options = {});

} // namespace tolvane_test
