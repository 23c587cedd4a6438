#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "file/uPDFStructure.h"

using namespace korvel;

namespace {

bool isKept(TPDFStructure& store, const TPDFObject* v) {
    for (int i = 0; i < store.ObjectCount(); ++i)
        if (store.ObjectAt(i) == v)
            return true;
    return false;
}

// What releasing without force decides when every value of the store is asked.
bool heldByScan(TPDFStructure& store, const TPDFObject* v) {
    if (const TPDFName* n = Cast<TPDFName>(v); n && n->IsCommon)
        return true;
    for (int i = 0; i < store.ObjectCount(); ++i)
        if (store.ObjectAt(i)->HoldsDirectly(v))
            return true;
    return false;
}

// Adds arrays below top, each the last item of the one before, until there are `levels`
// levels; returns the innermost.
TPDFArray* nestArrays(TPDFStructure& store, TPDFArray* top, int levels) {
    for (int i = 1; i < levels; ++i) {
        TPDFArray* next = store.CreateArray();
        top->Add(next);
        top = next;
    }
    return top;
}

} // namespace

// --- store, common names

TEST(Store, ResetFreesEverythingAndRestoresSettingsButKeepsCallbacks) {
    TPDFStructure store;
    store.OnResolve = [](auto, auto, auto) -> TPDFObject* { return nullptr; };
    store.CreateName("Type");
    store.NumberDecimals = 2;
    store.Reset();
    EXPECT_EQ(store.ObjectCount(), 0);
    EXPECT_EQ(store.FindName("Type"), nullptr);
    EXPECT_EQ(store.NumberDecimals, 4);
    EXPECT_TRUE(static_cast<bool>(store.OnResolve));
}

TEST(CommonName, ListedNameReusesTheFirstOwnedNameAndOtherTextMakesANewOneEveryTime) {
    for (const char* text : {"MediaBox", "oFRT", "Goto"})
        EXPECT_TRUE(TPDFStructure::IsCommonNameText(text)) << text;
    for (const char* text : {"type", "GoTo", "Media", "MediaBox][Length", ""})
        EXPECT_FALSE(TPDFStructure::IsCommonNameText(text)) << text;
    TPDFStructure store;
    TPDFName* parsed = Cast<TPDFName>(store.Parse("/Type"));
    store.CreateName("Type");
    EXPECT_FALSE(parsed->IsCommon);
    EXPECT_EQ(store.CommonName("Type"), parsed);
    EXPECT_TRUE(parsed->IsCommon);
    EXPECT_EQ(store.CommonName("Type"), parsed);
    TPDFName* a = store.CommonName("Foo");
    TPDFName* b = store.CommonName("Foo");
    EXPECT_NE(a, b);
    EXPECT_TRUE(a->IsCommon && b->IsCommon);
    TPDFName* first = store.CommonName("Length");
    EXPECT_EQ(store.CommonName("Length"), first);
    EXPECT_EQ(store.ObjectCount(), 5);
}

TEST(FindName, FindsTheFirstLiveNameInStoreOrderAndFollowsChangesOfValue) {
    TPDFStructure store;
    TPDFName* a = store.CreateName("X");
    TPDFName* b = store.CreateName("X");
    EXPECT_EQ(store.FindName("X"), a);
    store.Release(a);
    EXPECT_EQ(store.FindName("X"), b);
    store.Release(b);
    EXPECT_EQ(store.FindName("X"), nullptr);
    TPDFName* older = store.CreateName("A");
    TPDFName* newer = store.CreateName("X");
    older->SetValue("X");
    EXPECT_EQ(store.FindName("X"), older) << "store order, not order of renaming";
    EXPECT_EQ(store.FindName("A"), nullptr);
    older->SetValue("A");
    EXPECT_EQ(store.FindName("X"), newer);
    EXPECT_EQ(store.FindName("A"), older);
}

// --- dictionaries

TEST(Dictionary, PutEntryReplacesInPlaceWithoutReleasingAndPutIntoItselfIsIgnored) {
    TPDFStructure store;
    TPDFDictionary* d = AsDictionary(store.Parse("<</Type 1/type 2>>"));
    EXPECT_EQ(d->IndexOfKey("type"), 1) << "keys compare bytes exactly";
    EXPECT_EQ(d->IndexOfKey("TYPE"), -1);
    EXPECT_TRUE(d->EntryAt(2).first == nullptr && d->EntryAt(-1).second == nullptr);
    TPDFObject* old = d->Get("Type");
    TPDFName* key = store.CreateName("Type");
    TPDFObject* three = store.CreateNumber(3);
    d->PutEntry(key, three);
    d->Put("Self", d);
    ASSERT_EQ(d->Count(), 2);
    EXPECT_EQ(d->EntryAt(0), std::make_pair(key, three));
    EXPECT_TRUE(isKept(store, old));
}

TEST(Dictionary, GetFollowsOneReferenceLevelAndAMissingTargetGivesNone) {
    TPDFStructure store;
    TPDFObject* target = store.CreateDictionary();
    TPDFIndRef* second = store.CreateRef(2, 0);
    store.OnResolve = [&](auto, std::int32_t num, auto) -> TPDFObject* {
        return num == 1 ? second : num == 2 ? target : nullptr;
    };
    TPDFDictionary* d = AsDictionary(store.Parse("<</One 1 0 R/Missing 9 0 R>>"));
    EXPECT_EQ(d->Get("One"), second) << "only one level";
    EXPECT_EQ(d->Get("Missing"), nullptr) << "not the reference itself";
    EXPECT_NE(Cast<TPDFIndRef>(d->Get("Missing", false)), nullptr);
}

TEST(Dictionary, TypedGettersFollowReferencesExceptForTheTypeNameAndFallBackToTheDefault) {
    TPDFStructure store;
    TPDFDictionary* d =
        AsDictionary(store.Parse("<</A 2.5/B 3.5/C (7)/R 1 0 R/N/Abc/S<4142>/T 2 0 R>>"));
    TPDFObject* five = store.CreateNumber(5);
    TPDFObject* text = store.CreateString("via ref");
    TPDFObject* page = store.CreateName("Page");
    store.OnResolve = [&](auto, std::int32_t num, auto) {
        return num == 1 ? five : num == 2 ? text : page;
    };
    EXPECT_EQ(d->GetInteger("B", -1), 4) << "halves to even";
    EXPECT_EQ(d->GetInteger("R", -1), 5);
    EXPECT_EQ(d->GetInteger("C", -1), -1);
    EXPECT_EQ(d->GetInteger("Z", 42), 42);
    EXPECT_EQ(d->GetText("N") + d->GetText("S") + d->GetText("T"), "AbcABvia ref");
    EXPECT_EQ(d->GetText("A"), "");
    EXPECT_EQ(AsDictionary(store.Parse("<</Type/Page>>"))->GetTypeName(), "Page");
    for (const char* text : {"<</Type 3 0 R>>", "<</Type(Page)>>", "<</T/Page>>"})
        EXPECT_EQ(AsDictionary(store.Parse(text))->GetTypeName(), "") << text;
}

TEST(Dictionary, RemoveRemoveAndReleaseAndClearFreeNoValue) {
    TPDFStructure store;
    TPDFDictionary* d = AsDictionary(store.Parse("<</A 1/B 2/C 3/Foo<</X 1>>/Type[1]>>"));
    const int count = store.ObjectCount();
    TPDFObject* b = d->Get("B");
    d->Remove("B");
    d->Remove("Nope");
    ASSERT_EQ(d->Count(), 4);
    EXPECT_EQ(d->EntryAt(1).first->Value(), "C") << "later entries move up";
    d->RemoveAndRelease("Foo");
    d->RemoveAndRelease("Type");
    EXPECT_EQ(d->Count(), 2);
    EXPECT_EQ(store.ObjectCount(), count);
    store.Release(b);
    EXPECT_FALSE(isKept(store, b)) << "no longer held once removed";
    d->Clear();
    EXPECT_EQ(d->Count(), 0);
    EXPECT_EQ(store.ObjectCount(), count - 1);
}

TEST(Dictionary, AssignSharesTheValuesInOneStoreAndGoesThroughTextAcrossStores) {
    TPDFStructure store, two;
    TPDFDictionary* a = AsDictionary(store.Parse("<</A 1/B[2 (x)]/C<</D/E>>>>"));
    TPDFDictionary* b = AsDictionary(store.Parse("<</Z 9>>"));
    b->Assign(a);
    ASSERT_EQ(b->Count(), 3);
    EXPECT_TRUE(b->Get("B") == a->Get("B") && b->EntryAt(0).first == a->EntryAt(0).first);
    TPDFDictionary* c = two.CreateDictionary();
    c->Assign(a);
    EXPECT_EQ(c->ToText(), a->ToText());
    EXPECT_EQ(c->Get("B")->Owner, &two);
    a->Remove("B");
    TPDFObject* shared = b->Get("B");
    store.Release(shared);
    EXPECT_TRUE(isKept(store, shared)) << "still held by the copy";
}

TEST(Dictionary, BigDictionaryLookupsStayRightAfterEdits) {
    TPDFStructure store;
    TPDFDictionary* d = store.CreateDictionary();
    std::vector<TPDFName*> keys;
    for (int i = 0; i < 40; ++i) {
        keys.push_back(store.CreateName("K" + std::to_string(i)));
        d->PutEntry(keys.back(), store.CreateNumber(i));
    }
    EXPECT_EQ(d->IndexOfKey("K39"), 39);
    d->Remove("K0");
    EXPECT_EQ(d->IndexOfKey("K39"), 38);
    EXPECT_EQ(d->IndexOfKey("K0"), -1);
    keys[10]->SetValue("Renamed");
    EXPECT_EQ(d->IndexOfKey("K10"), -1);
    EXPECT_EQ(d->IndexOfKey("Renamed"), 9);
    d->PutEntry(store.CreateName("K20"), store.CreateNumber(-1));
    EXPECT_EQ(d->IndexOfKey("K20"), 19);
    EXPECT_EQ(AsNumber(d->Get("K20")), -1);
    EXPECT_EQ(d->Count(), 39);
}

// --- arrays, numbers, references, streams

TEST(Array, EditsKeepOrderIndicesOutOfRangeDoNothingAndReserveIsOnlyAHint) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray(std::vector<std::int32_t>{1, 2, 3, 4});
    TPDFObject* n = store.CreateNull();
    a->Insert(5, n);
    a->Insert(-1, n);
    a->Delete(4);
    a->Replace(4, n);
    a->ReplaceRaw(-1, n);
    a->Move(0, 4);
    a->Reserve(std::numeric_limits<int>::max());
    a->Reserve(-5);
    EXPECT_EQ(a->ToText(), "[ 1 2 3 4 ]");
    EXPECT_EQ(a->Item(4), nullptr);
    a->Insert(4, n);
    a->Insert(0, store.CreateNumber(0));
    a->Delete(1);
    a->Replace(0, store.CreateName("Z"));
    EXPECT_EQ(a->ToText(), "[ /Z 2 3 4 null ]");
    a->Move(0, 3);
    EXPECT_EQ(a->ToText(), "[ 2 3 4 /Z null ]");
    a->Move(3, 1);
    EXPECT_EQ(a->ToText(), "[ 2 /Z 3 4 null ]");
}

TEST(Array, TextComparisonsUseToText) {
    TPDFStructure store;
    TPDFArray* a = AsArray(store.Parse("[/A 1 (x) 2 0 R]"));
    EXPECT_EQ(a->IndexOfText(store.CreateNumber(1)), 1);
    EXPECT_EQ(a->IndexOfText(store.CreateRef(2, 0)), 3);
    EXPECT_EQ(a->IndexOfText(store.CreateName("B")), -1);
    EXPECT_EQ(a->IndexOfText(nullptr), -1);
    EXPECT_TRUE(a->ContainsText("(x)"));
    EXPECT_FALSE(a->ContainsText("x"));
}

TEST(Numeric, IntValueRoundsHalvesToEvenSaturatesAndReadsNaNAsZero) {
    TPDFStructure store;
    const auto intValue = [&](double v) { return store.CreateNumber(v)->IntValue(); };
    EXPECT_EQ(intValue(2.5), 2);
    EXPECT_EQ(intValue(3.5), 4);
    EXPECT_EQ(intValue(-2.5), -2);
    EXPECT_EQ(intValue(-0.6), -1);
    EXPECT_EQ(intValue(2147483646.5), 2147483646);
    EXPECT_EQ(intValue(1e300), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(intValue(std::numeric_limits<double>::infinity()),
              std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(intValue(-1e300), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(intValue(std::nan("")), 0);
}

TEST(IndRef, ResolvesThroughTheOwnersCallbackAndKeepsItsTargetApartFromItsOwnNumbers) {
    TPDFStructure store;
    TPDFIndRef* ref = store.CreateRef(3, 1);
    EXPECT_EQ(ref->Resolve(), nullptr) << "no callback set";
    TPDFObject* answer = store.CreateNull();
    store.OnResolve = [&](const TPDFIndRef* r, std::int32_t num, std::int32_t gen) {
        return r == ref && num == 3 && gen == 1 ? answer : nullptr;
    };
    EXPECT_EQ(ref->Resolve(), answer);
    ref->MarkIndirect(20, 0);
    EXPECT_TRUE(ref->IsIndirect && ref->ObjNum == 20);
    EXPECT_TRUE(ref->RefObjNum() == 3 && ref->RefGenNum() == 1);
}

TEST(Stream, SetRawDataSetsLengthInPlaceOrOverAReferenceAndReplaceRawDataLeavesIt) {
    TPDFStructure store;
    TPDFStream* s = store.CreateStream("hello");
    EXPECT_EQ(s->DecodedData(), "hello") << "no filters";
    TPDFObject* length = s->Dictionary()->Get("Length");
    EXPECT_EQ(AsNumber(length), 5);
    const auto version = s->DataVersion();
    s->SetRawData("abc");
    EXPECT_TRUE(s->Dictionary()->Get("Length") == length && AsNumber(length) == 3);
    EXPECT_GT(s->DataVersion(), version);
    s->ReplaceRawData("12345678");
    EXPECT_TRUE(s->RawData() == "12345678" && AsNumber(length) == 3);
    s->Dictionary()->Put("Length", store.CreateRef(5, 0));
    s->SetRawData("xy");
    EXPECT_EQ(AsNumber(s->Dictionary()->Get("Length", false)), 2);
}

TEST(Stream, KeepsItsDictionaryWhileLiveAndSetDictionaryForceReleasesTheOldOne) {
    TPDFStructure store;
    TPDFStream* s = store.CreateStream("x");
    TPDFDictionary* old = s->Dictionary();
    store.Release(old);
    EXPECT_TRUE(isKept(store, old));
    EXPECT_TRUE(s->HoldsDirectly(old) && s->HoldsDirectly(old->Get("Length")));
    TPDFDictionary* fresh = store.CreateDictionary();
    s->SetDictionary(fresh);
    store.Release(fresh);
    EXPECT_EQ(s->Dictionary(), fresh);
    EXPECT_TRUE(!isKept(store, old) && isKept(store, fresh));
    store.Release(s);
    store.Release(fresh);
    EXPECT_FALSE(isKept(store, s) || isKept(store, fresh)) << "free once the stream is gone";
}

// --- releasing

TEST(Release, UnheldValueLeavesTheListButStaysReadable) {
    TPDFStructure store;
    TPDFObject* a = store.CreateNumber(1);
    TPDFString* b = store.CreateString("still here");
    TPDFObject* c = store.CreateNumber(3);
    store.Release(b);
    store.Release(b);
    ASSERT_EQ(store.ObjectCount(), 2);
    EXPECT_TRUE(store.ObjectAt(0) == a && store.ObjectAt(1) == c);
    EXPECT_TRUE(store.ObjectAt(2) == nullptr && store.ObjectAt(-1) == nullptr);
    EXPECT_TRUE(b->Value == "still here" && !b->IsLive());
}

TEST(Release, HeldValueAndCommonNameAreKeptUnlessForcedAndAnotherStoresValueIsIgnored) {
    TPDFStructure store, other;
    TPDFArray* a = store.CreateArray();
    TPDFObject* item = store.CreateNumber(1);
    a->Add(item);
    TPDFName* common = store.CommonName("Type");
    store.Release(item);
    store.Release(common);
    other.Release(a, true);
    EXPECT_TRUE(isKept(store, item) && isKept(store, common) && isKept(store, a));
    store.Release(item, true);
    store.Release(common, true);
    EXPECT_FALSE(isKept(store, item) || isKept(store, common));
    EXPECT_EQ(store.FindName("Type"), nullptr);
}

TEST(Release, ReleasedContainerHoldsNothingUntilRegisteredAgainAndRegisterTakesOwnershipOnce) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray();
    TPDFObject* item = store.CreateNumber(1);
    a->Add(item);
    store.Release(a);
    store.Register(a);
    store.Release(item);
    EXPECT_TRUE(isKept(store, a) && isKept(store, item)) << "held again by the revived array";
    store.Release(a);
    store.Release(item);
    EXPECT_FALSE(isKept(store, item));
    auto* outside = new TPDFArray(nullptr);
    store.Register(outside);
    store.Register(outside);
    EXPECT_EQ(store.ObjectCount(), 1);
    EXPECT_EQ(outside->Owner, &store);
}

TEST(Release, DecisionsMatchAScanOfEveryValue) {
    std::mt19937 random(1234);
    TPDFStructure store;
    std::vector<TPDFObject*> all;
    auto pick = [&]() { return all[random() % all.size()]; };
    int step = 0;
    const std::function<TPDFObject*()> make[] = {
        [&] { return store.CreateNumber(step); },
        [&] { return store.CreateName(random() % 2 ? "Type" : "K"); },
        [&] { return store.CommonName(random() % 2 ? "Type" : "Q"); },
        [&] { return store.CreateArray(); },
        [&] { return store.CreateDictionary(); },
        [&] { return store.CreateStream("s"); }};
    for (; step < 4000; ++step) {
        const unsigned op = random() % 10;
        if (op < 6) {
            all.push_back(make[op]());
        } else if (op == 6) {
            if (TPDFArray* a = Cast<TPDFArray>(pick())) {
                if (random() % 3 == 0 && a->Count() > 0)
                    a->Delete(static_cast<int>(random() % a->Count()));
                else if (random() % 2 && a->Count() > 0)
                    a->Replace(static_cast<int>(random() % a->Count()), pick());
                else
                    a->Add(pick());
            }
        } else if (op == 7) {
            if (TPDFDictionary* d = Cast<TPDFDictionary>(pick())) {
                if (TPDFName* key = Cast<TPDFName>(pick()))
                    d->PutEntry(key, pick());
                else if (random() % 2)
                    d->Remove("K");
                else if (TPDFDictionary* other = Cast<TPDFDictionary>(pick()))
                    d->Assign(other);
            }
        } else if (op == 8) {
            if (TPDFStream* s = Cast<TPDFStream>(pick()))
                if (TPDFDictionary* d = Cast<TPDFDictionary>(pick());
                    d && d->IsLive() && !heldByScan(store, d))
                    s->SetDictionary(d);
        } else if (TPDFObject* v = pick(); v->IsLive()) {
            const bool expected = heldByScan(store, v);
            const int before = store.ObjectCount();
            store.Release(v);
            ASSERT_EQ(v->IsLive(), expected) << "step " << step;
            ASSERT_EQ(store.ObjectCount(), before - (expected ? 0 : 1));
        }
    }
}

TEST(ReleaseTree, FreesOnlyAnUnheldContainerItselfAndBelowAReleasedOneUnheldChildren) {
    TPDFStructure store;
    TPDFDictionary* d = AsDictionary(store.Parse("<</A[1 2]/B<</C 3>>>>"));
    TPDFArray* outer = AsArray(store.Parse("[<</A 1>>]"));
    const int count = store.ObjectCount();
    outer->Item(0)->ReleaseTree();
    EXPECT_EQ(store.ObjectCount(), count) << "a held container keeps everything";
    d->ReleaseTree();
    EXPECT_EQ(store.ObjectCount(), count - 1);
    EXPECT_TRUE(!isKept(store, d) && isKept(store, d->Get("A")));
    TPDFDictionary* released = AsDictionary(store.Parse("<</A[1 2]/B 3>>"));
    TPDFArray* a = AsArray(released->Get("A"));
    store.Release(released);
    released->ReleaseTree();
    EXPECT_FALSE(isKept(store, a) || isKept(store, released->Get("B")));
    // Arrays hand their items to Release only after the array itself is gone.
    EXPECT_TRUE(isKept(store, a->Item(0)));
}

TEST(ReleaseTree, SelfHoldingAndDeepContainersTerminate) {
    TPDFStructure store;
    TPDFArray* loop = store.CreateArray();
    loop->Add(loop);
    loop->ReleaseTree();
    EXPECT_TRUE(isKept(store, loop)) << "it holds itself";
    store.Release(loop, true);
    loop->ReleaseTree();
    // A chain of released dictionaries is walked all the way down without recursion.
    std::vector<TPDFDictionary*> chain{store.CreateDictionary()};
    for (int i = 0; i < 200000; ++i) {
        chain.push_back(store.CreateDictionary());
        chain[chain.size() - 2]->PutEntry(store.CreateName("K"), chain.back());
    }
    TPDFObject* leaf = store.CreateNumber(1);
    chain.back()->PutEntry(store.CreateName("K"), leaf);
    for (TPDFDictionary* d : chain)
        store.Release(d, true);
    chain.front()->ReleaseTree();
    EXPECT_FALSE(leaf->IsLive());
    EXPECT_EQ(store.FindName("K"), nullptr);
}

// --- renumbering and holding

TEST(ShiftNumbers, ShiftsReachableReferencesOnceEach) {
    TPDFStructure store;
    TPDFDictionary* d = AsDictionary(store.Parse("<</A 1 0 R/B[2 0 R<</C 3 1 R>>]>>"));
    TPDFStream* s = store.CreateStream("");
    s->Dictionary()->Put("D", store.CreateRef(4, 0));
    TPDFIndRef* shared = store.CreateRef(5, 0);
    TPDFArray* b = AsArray(d->Get("B"));
    b->Add(shared);
    b->Add(shared);
    b->Add(s);
    d->ShiftNumbers(10);
    EXPECT_EQ(d->Get("A", false)->ToText(), "11 0 R");
    EXPECT_EQ(b->Item(0)->ToText(), "12 0 R");
    EXPECT_EQ(AsDictionary(b->Item(1))->Get("C", false)->ToText(), "13 1 R");
    EXPECT_EQ(s->Dictionary()->Get("D", false)->ToText(), "14 0 R");
    EXPECT_EQ(shared->ToText(), "15 0 R");
    EXPECT_EQ(shared->ObjNum, 0) << "the indirect-object numbers stay";
}

TEST(ShiftNumbers, SelfHoldingAndDeepContainersTerminate) {
    TPDFStructure store;
    TPDFArray* top = store.CreateArray();
    top->Add(top);
    top->Add(store.CreateRef(1, 0));
    TPDFArray* cur = nestArrays(store, top, 200000);
    cur->Add(store.CreateRef(2147483647, 0));
    top->ShiftNumbers(1);
    EXPECT_EQ(top->Item(1)->ToText(), "2 0 R");
    EXPECT_EQ(cur->Item(0)->ToText(), "-2147483648 0 R");
}

TEST(HoldsDirectly, ComparesIdentityNotContent) {
    TPDFStructure store;
    TPDFArray* a = AsArray(store.Parse("[1]"));
    EXPECT_TRUE(a->HoldsDirectly(a->Item(0)));
    EXPECT_FALSE(a->HoldsDirectly(store.CreateNumber(1)) ||
                 store.CreateNumber(1)->HoldsDirectly(a));
    TPDFDictionary* d = AsDictionary(store.Parse("<</K [1]>>"));
    EXPECT_TRUE(d->HoldsDirectly(d->EntryAt(0).first));
    EXPECT_FALSE(d->HoldsDirectly(AsArray(d->Get("K"))->Item(0)));
}

// --- writing as text (the plain forms are also checked by scanning them in ParserTest)

TEST(ToText, NumbersWriteTheStoreDecimalsCutAndStringsAndNamesEscapeSpecialBytes) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateRef(-1, -2)->ToText(), "-1 -2 R");
    EXPECT_EQ(store.CreateNumber(1.23456)->ToText(), "1.2345");
    EXPECT_EQ(store.CreateNumber(std::nan(""))->ToText(), "0");
    store.NumberDecimals = 0;
    EXPECT_EQ(store.CreateNumber(100.9)->ToText(), "100");
    EXPECT_EQ(store.CreateString("a(b")->ToText(), "(a\\(b)");
    EXPECT_EQ(store.CreateString("\b\t\n\f\r)\\")->ToText(), "(\\b\\t\\n\\f\\r\\)\\\\)");
    EXPECT_EQ(store.CreateString(std::string("\0\x7F\xFF", 3))->ToText(),
              std::string("(\0\x7F\xFF)", 5));
    EXPECT_EQ(store.CreateString("\xAB\x01z", true)->ToText(), "<AB017A>");
    EXPECT_EQ(store.CreateString("", true)->ToText(), "<>");
    EXPECT_EQ(store.CreateName("A B")->ToText(), "/A#20B");
    EXPECT_EQ(store.CreateName("#%()/<>[]{}")->ToText(), "/#23#25#28#29#2F#3C#3E#5B#5D#7B#7D");
    EXPECT_EQ(store.CreateName(std::string("\0\x7F\x80\xFF!~", 6))->ToText(), "/#00#7F#80#FF!~");
}

TEST(ToText, ContainersBreakLinesAfterEightyCharactersAndAfterNestedDictionaries) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray();
    a->Add(store.CreateDictionary());
    a->Add(store.CreateNumber(1));
    EXPECT_EQ(a->ToText(), "[ <<\n>>\n1 ]") << "no space after a line feed";
    std::string expected = "[ ";
    for (int i = 0; i < 8; ++i)
        expected += "1000000000 ";
    expected += "\n1000000000 1000000000 ]";
    EXPECT_EQ(store.CreateArray(std::vector<std::int32_t>(10, 1000000000))->ToText(), expected);
    TPDFDictionary* d = AsDictionary(store.Parse("<</Type/Page/A<</B 1>>>>"));
    d->PutEntry(store.CreateName("N"), nullptr);
    EXPECT_EQ(d->ToText(), "<<\n/Type /Page\n/A <<\n/B 1\n>>\n/N \n>>\n");
    EXPECT_EQ(store.CreateStream("abc")->ToText(), "<<\n/Length 3\n>>\nstream\nabc\nendstream");
}

TEST(ToText, ContainersDeeperThanTheBoundOrHoldingThemselvesWriteNullThere) {
    TPDFStructure store, other;
    TPDFArray* top = store.CreateArray();
    nestArrays(store, top, kMaxNesting + 1);
    const std::string text = top->ToText();
    EXPECT_NE(text.find("[ null ]"), std::string::npos);
    const TPDFObject* back = other.Parse(text);
    int depth = 0;
    for (; const TPDFArray* a = Cast<TPDFArray>(back); back = a->Item(0))
        ++depth;
    EXPECT_EQ(depth, kMaxNesting);
    EXPECT_NE(Cast<TPDFNull>(back), nullptr);
    // A very deep hand-built chain writes without recursing deeply.
    TPDFArray* deep = store.CreateArray();
    nestArrays(store, deep, 200000);
    EXPECT_LT(deep->ToText().size(), 6u * kMaxNesting);
    TPDFArray* a = store.CreateArray();
    a->Add(a);
    a->Add(a);
    EXPECT_EQ(a->ToText(), "[ null null ]");
    TPDFDictionary* d = store.CreateDictionary();
    d->PutEntry(store.CreateName("Me"), d);
    EXPECT_EQ(d->ToText(), "<<\n/Me null\n>>\n");
    TPDFArray* shared = store.CreateArray();
    TPDFArray* pair = store.CreateArray(std::vector<TPDFObject*>{shared, shared});
    EXPECT_EQ(pair->ToText(), "[ [ ] [ ] ]") << "sharing is not a cycle";
}

// --- rectangles

TEST(Rectangle, SwapsRolesSoRightAndTopAreTheLargerEdgesAndNeedsExactlyFourNumbers) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray(std::vector<double>{110, 220, 10, 20});
    TPDFRectangle r(a);
    ASSERT_TRUE(r.IsValid());
    EXPECT_TRUE(r.Left() == 10 && r.Bottom() == 20 && r.Right() == 110 && r.Top() == 220);
    EXPECT_EQ(a->ToText(), "[ 110 220 10 20 ]") << "the array keeps its order";
    // Edge codes modulo 128: left, top, width, height, right, bottom, otherwise 0.
    const double edges[] = {10, 220, 100, 200, 110, 20, 0};
    for (int code = 0; code < 7; ++code)
        EXPECT_EQ(r.Edge(code), edges[code]) << code;
    EXPECT_TRUE(r.Edge(129) == 220 && r.Edge(-1) == 0);
    EXPECT_FALSE(TPDFRectangle(nullptr).IsValid());
    for (const char* text : {"[0 0 1]", "[0 0 1 /A]", "[0 0 1 2 3]", "<</A 1>>"})
        EXPECT_FALSE(TPDFRectangle(store.Parse(text)).IsValid()) << text;
}
