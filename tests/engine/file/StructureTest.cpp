#include <gtest/gtest.h>

#include <cmath>
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

} // namespace

// --- store and factories

TEST(Store, FactoriesRegisterInCreationOrder) {
    TPDFStructure store;
    TPDFObject* a = store.CreateNull();
    TPDFObject* b = store.CreateBoolean(true);
    TPDFObject* c = store.CreateNumber(1);
    TPDFObject* d = store.CreateString("x", true);
    ASSERT_EQ(store.ObjectCount(), 4);
    EXPECT_EQ(store.ObjectAt(0), a);
    EXPECT_EQ(store.ObjectAt(1), b);
    EXPECT_EQ(store.ObjectAt(2), c);
    EXPECT_EQ(store.ObjectAt(3), d);
    EXPECT_EQ(store.ObjectAt(4), nullptr);
    EXPECT_EQ(store.ObjectAt(-1), nullptr);
}

TEST(Store, KindsAndOwnerAreSetByTheFactories) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateDictionary()->Kind, 'D');
    EXPECT_EQ(store.CreateName("A")->Kind, 'N');
    EXPECT_EQ(store.CreateArray()->Kind, 'A');
    EXPECT_EQ(store.CreateStream("")->Kind, 'S');
    EXPECT_EQ(store.CreateRef(1, 0)->Kind, 'I');
    EXPECT_EQ(store.CreateNumber(1)->Kind, 0);
    EXPECT_EQ(store.CreateNull()->Owner, &store);
    EXPECT_EQ(store.CreateNull()->CryptToggle, 0);
}

TEST(Store, ArraysFromListsMakeOneNumberPerElement) {
    TPDFStructure store;
    const TPDFArray* ints = store.CreateArray(std::vector<std::int32_t>{1, -2, 3});
    const TPDFArray* reals = store.CreateArray(std::vector<double>{0.5, 1.5});
    EXPECT_EQ(ints->ToText(), "[ 1 -2 3 ]");
    EXPECT_EQ(reals->ToText(), "[ 0.5 1.5 ]");
    TPDFObject* n = store.CreateNull();
    const TPDFArray* items = store.CreateArray(std::vector<TPDFObject*>{n, n});
    EXPECT_EQ(items->Item(0), n);
    EXPECT_EQ(items->Item(1), n);
}

TEST(Store, ResetFreesEverythingAndRestoresSettingsButKeepsCallbacks) {
    TPDFStructure store;
    store.OnResolve = [](const TPDFIndRef*, std::int32_t, std::int32_t) -> TPDFObject* {
        return nullptr;
    };
    store.CreateName("Type");
    store.NumberDecimals = 2;
    store.NumberFormat = "0.00";
    store.MultiLine = false;
    store.Reset();
    EXPECT_EQ(store.ObjectCount(), 0);
    EXPECT_EQ(store.FindName("Type"), nullptr);
    EXPECT_EQ(store.NumberDecimals, 4);
    EXPECT_EQ(store.NumberFormat, "0.0000");
    EXPECT_TRUE(store.MultiLine);
    EXPECT_TRUE(static_cast<bool>(store.OnResolve));
}

TEST(Store, RegisterTakesOwnershipOnce) {
    TPDFStructure store;
    auto* array = new TPDFArray(nullptr);
    store.Register(array);
    store.Register(array);
    EXPECT_EQ(store.ObjectCount(), 1);
    EXPECT_EQ(array->Owner, &store);
}

// --- common names

TEST(CommonName, ListMembershipIsExactAndWhole) {
    EXPECT_TRUE(TPDFStructure::IsCommonNameText("MediaBox"));
    EXPECT_TRUE(TPDFStructure::IsCommonNameText("oFRT"));
    EXPECT_TRUE(TPDFStructure::IsCommonNameText("Goto"));
    EXPECT_FALSE(TPDFStructure::IsCommonNameText("type"));
    EXPECT_FALSE(TPDFStructure::IsCommonNameText("GoTo"));
    EXPECT_FALSE(TPDFStructure::IsCommonNameText("Media"));
    EXPECT_FALSE(TPDFStructure::IsCommonNameText("MediaBox][Length"));
    EXPECT_FALSE(TPDFStructure::IsCommonNameText(""));
}

TEST(CommonName, ListedNameReusesFirstOwnedNameOfThatValue) {
    TPDFStructure store;
    TPDFName* parsed = Cast<TPDFName>(store.Parse("/Type"));
    store.CreateName("Type");
    EXPECT_FALSE(parsed->IsCommon);
    TPDFName* common = store.CommonName("Type");
    EXPECT_EQ(common, parsed);
    EXPECT_TRUE(parsed->IsCommon);
    EXPECT_EQ(store.CommonName("Type"), parsed);
}

TEST(CommonName, OtherTextMakesANewCommonNameEveryTime) {
    TPDFStructure store;
    TPDFName* a = store.CommonName("Foo");
    TPDFName* b = store.CommonName("Foo");
    EXPECT_NE(a, b);
    EXPECT_TRUE(a->IsCommon);
    EXPECT_TRUE(b->IsCommon);
    TPDFName* first = store.CommonName("Length");
    EXPECT_EQ(store.ObjectCount(), 3);
    EXPECT_EQ(store.CommonName("Length"), first);
}

TEST(FindName, FindsTheFirstLiveNameInStoreOrder) {
    TPDFStructure store;
    TPDFName* a = store.CreateName("X");
    TPDFName* b = store.CreateName("X");
    EXPECT_EQ(store.FindName("X"), a);
    store.Release(a);
    EXPECT_EQ(store.FindName("X"), b);
    store.Release(b);
    EXPECT_EQ(store.FindName("X"), nullptr);
    EXPECT_EQ(store.FindName("Y"), nullptr);
}

TEST(FindName, FollowsNamesThatChangeTheirValue) {
    TPDFStructure store;
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

TEST(Dictionary, IndexOfKeyComparesBytesExactly) {
    TPDFStructure store;
    TPDFDictionary* d = store.CreateDictionary();
    d->Put("Type", store.CreateNull());
    d->Put("type", store.CreateNull());
    EXPECT_EQ(d->IndexOfKey("Type"), 0);
    EXPECT_EQ(d->IndexOfKey("type"), 1);
    EXPECT_EQ(d->IndexOfKey("TYPE"), -1);
    EXPECT_EQ(d->EntryAt(2).first, nullptr);
    EXPECT_EQ(d->EntryAt(-1).second, nullptr);
}

TEST(Dictionary, PutEntryReplacesKeyAndValueInPlaceWithoutReleasing) {
    TPDFStructure store;
    TPDFDictionary* d = store.CreateDictionary();
    d->Put("A", store.CreateNumber(1));
    d->Put("B", store.CreateNumber(2));
    TPDFObject* old = d->Get("A");
    TPDFName* key = store.CreateName("A");
    TPDFObject* three = store.CreateNumber(3);
    d->PutEntry(key, three);
    ASSERT_EQ(d->Count(), 2);
    EXPECT_EQ(d->EntryAt(0).first, key);
    EXPECT_EQ(d->EntryAt(0).second, three);
    EXPECT_TRUE(isKept(store, old));
}

TEST(Dictionary, PutOfTheDictionaryIntoItselfIsIgnored) {
    TPDFStructure store;
    TPDFDictionary* d = store.CreateDictionary();
    d->Put("Self", d);
    EXPECT_EQ(d->Count(), 0);
}

TEST(Dictionary, GetFollowsOneReferenceLevel) {
    TPDFStructure store;
    TPDFDictionary* target = store.CreateDictionary();
    TPDFIndRef* second = store.CreateRef(2, 0);
    store.OnResolve = [&](const TPDFIndRef*, std::int32_t num, std::int32_t) -> TPDFObject* {
        return num == 1 ? static_cast<TPDFObject*>(second) : num == 2 ? target : nullptr;
    };
    TPDFDictionary* d = store.CreateDictionary();
    d->Put("One", store.CreateRef(1, 0));
    d->Put("Missing", store.CreateRef(9, 0));
    EXPECT_EQ(d->Get("One"), second) << "only one level";
    EXPECT_EQ(d->Get("Missing"), nullptr) << "not the reference itself";
    EXPECT_NE(Cast<TPDFIndRef>(d->Get("Missing", false)), nullptr);
}

TEST(Dictionary, ResolveCallsTheOwnersCallbackWithTheTarget) {
    TPDFStructure store;
    TPDFIndRef* ref = store.CreateRef(7, 2);
    EXPECT_EQ(ref->Resolve(), nullptr) << "no callback set";
    const TPDFIndRef* seenRef = nullptr;
    std::int32_t seenNum = 0, seenGen = 0;
    TPDFObject* answer = store.CreateNull();
    store.OnResolve = [&](const TPDFIndRef* r, std::int32_t n, std::int32_t g) {
        seenRef = r;
        seenNum = n;
        seenGen = g;
        return answer;
    };
    EXPECT_EQ(ref->Resolve(), answer);
    EXPECT_EQ(seenRef, ref);
    EXPECT_EQ(seenNum, 7);
    EXPECT_EQ(seenGen, 2);
}

TEST(Dictionary, GetIntegerRoundsHalvesToEvenAndDefaultsOtherwise) {
    TPDFStructure store;
    TPDFDictionary* d = Cast<TPDFDictionary>(store.Parse("<</A 2.5/B 3.5/C (7)/D -2.5/R 1 0 R>>"));
    ASSERT_NE(d, nullptr);
    TPDFObject* five = store.CreateNumber(5);
    store.OnResolve = [&](const TPDFIndRef*, std::int32_t, std::int32_t) { return five; };
    EXPECT_EQ(d->GetInteger("A", -1), 2);
    EXPECT_EQ(d->GetInteger("B", -1), 4);
    EXPECT_EQ(d->GetInteger("C", -1), -1);
    EXPECT_EQ(d->GetInteger("D", -1), -2);
    EXPECT_EQ(d->GetInteger("R", -1), 5);
    EXPECT_EQ(d->GetInteger("Z", 42), 42);
}

TEST(Dictionary, GetTypeNameWantsADirectName) {
    TPDFStructure store;
    TPDFName* page = store.CreateName("Page");
    store.OnResolve = [&](const TPDFIndRef*, std::int32_t, std::int32_t) { return page; };
    EXPECT_EQ(Cast<TPDFDictionary>(store.Parse("<</Type/Page>>"))->GetTypeName(), "Page");
    EXPECT_EQ(Cast<TPDFDictionary>(store.Parse("<</Type 3 0 R>>"))->GetTypeName(), "");
    EXPECT_EQ(Cast<TPDFDictionary>(store.Parse("<</Type(Page)>>"))->GetTypeName(), "");
    EXPECT_EQ(Cast<TPDFDictionary>(store.Parse("<</T/Page>>"))->GetTypeName(), "");
}

TEST(Dictionary, GetTextGivesNameOrStringBytes) {
    TPDFStructure store;
    TPDFDictionary* d = Cast<TPDFDictionary>(store.Parse("<</N/Abc/S<4142>/I 5/R 2 0 R>>"));
    TPDFObject* s = store.CreateString("via ref");
    store.OnResolve = [&](const TPDFIndRef*, std::int32_t, std::int32_t) { return s; };
    EXPECT_EQ(d->GetText("N"), "Abc");
    EXPECT_EQ(d->GetText("S"), "AB");
    EXPECT_EQ(d->GetText("I"), "");
    EXPECT_EQ(d->GetText("R"), "via ref");
    EXPECT_EQ(d->GetText("none"), "");
}

TEST(Dictionary, RemoveMovesLaterEntriesUpAndFreesNothing) {
    TPDFStructure store;
    TPDFDictionary* d = Cast<TPDFDictionary>(store.Parse("<</A 1/B 2/C 3>>"));
    const int count = store.ObjectCount();
    TPDFObject* b = d->Get("B");
    d->Remove("B");
    d->Remove("Nope");
    ASSERT_EQ(d->Count(), 2);
    EXPECT_EQ(d->EntryAt(1).first->Value(), "C");
    EXPECT_EQ(store.ObjectCount(), count);
    store.Release(b);
    EXPECT_FALSE(isKept(store, b)) << "no longer held once removed";
}

TEST(Dictionary, RemoveAndReleaseHasTheEffectOfRemove) {
    TPDFStructure store;
    TPDFDictionary* d = Cast<TPDFDictionary>(store.Parse("<</Foo<</X 1>>/Type[1]>>"));
    const int count = store.ObjectCount();
    d->RemoveAndRelease("Foo");
    d->RemoveAndRelease("Type");
    EXPECT_EQ(d->Count(), 0);
    EXPECT_EQ(store.ObjectCount(), count);
}

TEST(Dictionary, ClearEmptiesEntriesOfTheStillHeldValues) {
    TPDFStructure store;
    TPDFDictionary* d = Cast<TPDFDictionary>(store.Parse("<</A 1/B 2>>"));
    const int count = store.ObjectCount();
    d->Clear();
    EXPECT_EQ(d->Count(), 0);
    EXPECT_EQ(store.ObjectCount(), count);
}

TEST(Dictionary, AssignInOneStoreSharesTheValues) {
    TPDFStructure store;
    TPDFDictionary* a = Cast<TPDFDictionary>(store.Parse("<</A 1/B[2]>>"));
    TPDFDictionary* b = Cast<TPDFDictionary>(store.Parse("<</Z 9>>"));
    b->Assign(a);
    ASSERT_EQ(b->Count(), 2);
    EXPECT_EQ(b->Get("B"), a->Get("B"));
    EXPECT_EQ(b->EntryAt(0).first, a->EntryAt(0).first);
    a->Remove("B");
    TPDFObject* shared = b->Get("B");
    store.Release(shared);
    EXPECT_TRUE(isKept(store, shared)) << "still held by the copy";
}

TEST(Dictionary, AssignAcrossStoresGoesThroughText) {
    TPDFStructure one, two;
    TPDFDictionary* a = Cast<TPDFDictionary>(one.Parse("<</A 1/B[2 (x)]/C<</D/E>>>>"));
    TPDFDictionary* b = two.CreateDictionary();
    b->Assign(a);
    ASSERT_EQ(b->Count(), 3);
    EXPECT_EQ(b->ToText(), a->ToText());
    EXPECT_EQ(b->Get("B")->Owner, &two);
    EXPECT_NE(b->Get("B"), a->Get("B"));
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

// --- arrays

TEST(Array, IndexOperationsOutOfRangeDoNothing) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray(std::vector<std::int32_t>{1, 2});
    TPDFObject* n = store.CreateNull();
    a->Insert(3, n);
    a->Insert(-1, n);
    a->Delete(2);
    a->Replace(5, n);
    a->ReplaceRaw(-1, n);
    a->Move(0, 2);
    EXPECT_EQ(a->ToText(), "[ 1 2 ]");
    EXPECT_EQ(a->Item(2), nullptr);
    a->Insert(2, n);
    EXPECT_EQ(a->ToText(), "[ 1 2 null ]");
}

TEST(Array, InsertDeleteReplaceAndMoveKeepOrder) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray(std::vector<std::int32_t>{1, 2, 3, 4});
    a->Insert(0, store.CreateNumber(0));
    EXPECT_EQ(a->ToText(), "[ 0 1 2 3 4 ]");
    a->Delete(1);
    EXPECT_EQ(a->ToText(), "[ 0 2 3 4 ]");
    a->Replace(0, store.CreateName("Z"));
    EXPECT_EQ(a->ToText(), "[ /Z 2 3 4 ]");
    a->Move(0, 3);
    EXPECT_EQ(a->ToText(), "[ 2 3 4 /Z ]");
    a->Move(3, 1);
    EXPECT_EQ(a->ToText(), "[ 2 /Z 3 4 ]");
    a->Clear();
    EXPECT_EQ(a->Count(), 0);
}

TEST(Array, TextComparisonsUseToText) {
    TPDFStructure store;
    TPDFArray* a = Cast<TPDFArray>(store.Parse("[/A 1 (x) 2 0 R]"));
    EXPECT_EQ(a->IndexOfText(store.CreateNumber(1)), 1);
    EXPECT_EQ(a->IndexOfText(store.CreateRef(2, 0)), 3);
    EXPECT_EQ(a->IndexOfText(store.CreateName("B")), -1);
    EXPECT_EQ(a->IndexOfText(nullptr), -1);
    EXPECT_TRUE(a->ContainsText("(x)"));
    EXPECT_FALSE(a->ContainsText("x"));
}

TEST(Array, ReserveOfAHugeCountIsOnlyAHint) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray();
    a->Reserve(std::numeric_limits<int>::max());
    a->Reserve(-5);
    a->Add(store.CreateNull());
    EXPECT_EQ(a->Count(), 1);
}

// --- numbers

TEST(Numeric, IntValueRoundsHalvesToEven) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateNumber(2.5)->IntValue(), 2);
    EXPECT_EQ(store.CreateNumber(3.5)->IntValue(), 4);
    EXPECT_EQ(store.CreateNumber(-2.5)->IntValue(), -2);
    EXPECT_EQ(store.CreateNumber(-3.5)->IntValue(), -4);
    EXPECT_EQ(store.CreateNumber(2.4999)->IntValue(), 2);
    EXPECT_EQ(store.CreateNumber(-0.6)->IntValue(), -1);
}

TEST(Numeric, IntValueSaturatesAndReadsNaNAsZero) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateNumber(1e300)->IntValue(), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(store.CreateNumber(-1e300)->IntValue(), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(store.CreateNumber(std::nan(""))->IntValue(), 0);
    EXPECT_EQ(store.CreateNumber(std::numeric_limits<double>::infinity())->IntValue(),
              std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(store.CreateNumber(2147483646.5)->IntValue(), 2147483646);
}

// --- streams

TEST(Stream, CreateStreamPutsLengthAndSetRawDataUpdatesItInPlace) {
    TPDFStructure store;
    TPDFStream* s = store.CreateStream("hello");
    ASSERT_NE(s->Dictionary(), nullptr);
    EXPECT_EQ(s->Dictionary()->GetInteger("Length", -1), 5);
    TPDFObject* length = s->Dictionary()->Get("Length");
    const auto version = s->DataVersion();
    s->SetRawData("abc");
    EXPECT_EQ(s->Dictionary()->Get("Length"), length);
    EXPECT_EQ(AsNumber(length), 3);
    EXPECT_GT(s->DataVersion(), version);
    s->ReplaceRawData("12345678");
    EXPECT_EQ(s->RawData(), "12345678");
    EXPECT_EQ(AsNumber(length), 3) << "replacing raw data leaves Length alone";
}

TEST(Stream, SetRawDataPutsANewNumberOverAnIndirectLength) {
    TPDFStructure store;
    TPDFStream* s = store.CreateStream("");
    s->Dictionary()->Put("Length", store.CreateRef(5, 0));
    s->SetRawData("xy");
    EXPECT_EQ(AsNumber(s->Dictionary()->Get("Length", false)), 2);
}

TEST(Stream, SetDictionaryForceReleasesTheOldOne) {
    TPDFStructure store;
    TPDFStream* s = store.CreateStream("x");
    TPDFDictionary* old = s->Dictionary();
    TPDFDictionary* fresh = store.CreateDictionary();
    s->SetDictionary(fresh);
    EXPECT_EQ(s->Dictionary(), fresh);
    EXPECT_FALSE(isKept(store, old));
    store.Release(fresh);
    EXPECT_TRUE(isKept(store, fresh));
}

TEST(Stream, DictionaryOfALiveStreamIsNotReleased) {
    TPDFStructure store;
    TPDFStream* s = store.CreateStream("x");
    store.Release(s->Dictionary());
    EXPECT_TRUE(isKept(store, s->Dictionary()));
    EXPECT_TRUE(s->HoldsDirectly(s->Dictionary()));
    EXPECT_TRUE(s->HoldsDirectly(s->Dictionary()->Get("Length")));
    store.Release(s);
    EXPECT_FALSE(isKept(store, s));
    store.Release(s->Dictionary());
    EXPECT_FALSE(isKept(store, s->Dictionary())) << "free once the stream is gone";
}

TEST(Stream, DecodedDataOfAStreamWithoutFiltersIsTheRawData) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateStream("raw bytes")->DecodedData(), "raw bytes");
}

// --- releasing

TEST(Release, UnheldValueLeavesTheListButStaysReadable) {
    TPDFStructure store;
    TPDFObject* a = store.CreateNumber(1);
    TPDFString* b = store.CreateString("still here");
    TPDFObject* c = store.CreateNumber(3);
    store.Release(b);
    ASSERT_EQ(store.ObjectCount(), 2);
    EXPECT_EQ(store.ObjectAt(0), a);
    EXPECT_EQ(store.ObjectAt(1), c);
    EXPECT_EQ(b->Value, "still here");
    EXPECT_FALSE(b->IsLive());
    store.Release(b);
    EXPECT_EQ(store.ObjectCount(), 2);
}

TEST(Release, HeldValueAndCommonNameAreKeptUnlessForced) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray();
    TPDFObject* item = store.CreateNumber(1);
    a->Add(item);
    TPDFName* common = store.CommonName("Type");
    store.Release(item);
    store.Release(common);
    EXPECT_TRUE(isKept(store, item));
    EXPECT_TRUE(isKept(store, common));
    store.Release(item, true);
    store.Release(common, true);
    EXPECT_FALSE(isKept(store, item));
    EXPECT_FALSE(isKept(store, common));
    EXPECT_EQ(store.FindName("Type"), nullptr);
}

TEST(Release, ValueOfAnotherStoreIsIgnored) {
    TPDFStructure one, two;
    TPDFObject* v = one.CreateNull();
    two.Release(v, true);
    EXPECT_TRUE(isKept(one, v));
}

TEST(Release, ReleasedContainerNoLongerHoldsItsChildren) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray();
    TPDFObject* item = store.CreateNumber(1);
    a->Add(item);
    store.Release(a);
    store.Release(item);
    EXPECT_FALSE(isKept(store, item));
}

TEST(Release, ReleasedValueCanBeRegisteredAgain) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray();
    TPDFObject* item = store.CreateNumber(1);
    a->Add(item);
    store.Release(a);
    store.Register(a);
    EXPECT_TRUE(isKept(store, a));
    store.Release(item);
    EXPECT_TRUE(isKept(store, item)) << "held again by the revived array";
}

TEST(Release, DecisionsMatchAScanOfEveryValue) {
    std::mt19937 random(1234);
    TPDFStructure store;
    std::vector<TPDFObject*> all;
    auto pick = [&]() { return all[random() % all.size()]; };
    for (int step = 0; step < 4000; ++step) {
        switch (random() % 10) {
        case 0:
            all.push_back(store.CreateNumber(step));
            break;
        case 1:
            all.push_back(store.CreateName(random() % 2 ? "Type" : "K"));
            break;
        case 2:
            all.push_back(store.CommonName(random() % 2 ? "Type" : "Q"));
            break;
        case 3:
            all.push_back(store.CreateArray());
            break;
        case 4:
            all.push_back(store.CreateDictionary());
            break;
        case 5:
            all.push_back(store.CreateStream("s"));
            break;
        case 6:
            if (TPDFArray* a = Cast<TPDFArray>(pick())) {
                if (random() % 3 == 0 && a->Count() > 0)
                    a->Delete(static_cast<int>(random() % a->Count()));
                else if (random() % 2 && a->Count() > 0)
                    a->Replace(static_cast<int>(random() % a->Count()), pick());
                else
                    a->Add(pick());
            }
            break;
        case 7:
            if (TPDFDictionary* d = Cast<TPDFDictionary>(pick())) {
                if (TPDFName* key = Cast<TPDFName>(pick()))
                    d->PutEntry(key, pick());
                else if (random() % 2)
                    d->Remove("K");
                else if (TPDFDictionary* other = Cast<TPDFDictionary>(pick()))
                    d->Assign(other);
            }
            break;
        case 8:
            if (TPDFStream* s = Cast<TPDFStream>(pick()))
                if (TPDFDictionary* d = Cast<TPDFDictionary>(pick());
                    d && d->IsLive() && !heldByScan(store, d))
                    s->SetDictionary(d);
            break;
        default: {
            TPDFObject* v = pick();
            if (!v->IsLive())
                break;
            const bool expected = heldByScan(store, v);
            const int before = store.ObjectCount();
            store.Release(v);
            ASSERT_EQ(v->IsLive(), expected) << "step " << step;
            ASSERT_EQ(store.ObjectCount(), before - (expected ? 0 : 1));
        }
        }
    }
}

TEST(ReleaseTree, FreesOnlyTheContainerItself) {
    TPDFStructure store;
    TPDFDictionary* d = Cast<TPDFDictionary>(store.Parse("<</A[1 2]/B<</C 3>>>>"));
    const int count = store.ObjectCount();
    d->ReleaseTree();
    EXPECT_EQ(store.ObjectCount(), count - 1);
    EXPECT_FALSE(isKept(store, d));
    EXPECT_TRUE(isKept(store, d->Get("A")));
}

TEST(ReleaseTree, HeldContainerKeepsEverything) {
    TPDFStructure store;
    TPDFArray* outer = Cast<TPDFArray>(store.Parse("[<</A 1>>]"));
    const int count = store.ObjectCount();
    outer->Item(0)->ReleaseTree();
    EXPECT_EQ(store.ObjectCount(), count);
}

TEST(ReleaseTree, BelowAReleasedContainerUnheldChildrenGo) {
    TPDFStructure store;
    TPDFDictionary* d = Cast<TPDFDictionary>(store.Parse("<</A[1 2]/B 3>>"));
    TPDFArray* a = Cast<TPDFArray>(d->Get("A"));
    TPDFObject* b = d->Get("B");
    store.Release(d);
    d->ReleaseTree();
    EXPECT_FALSE(isKept(store, a));
    EXPECT_FALSE(isKept(store, b));
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

// --- renumbering

TEST(ShiftNumbers, ShiftsReachableReferencesOnceEach) {
    TPDFStructure store;
    TPDFDictionary* d = Cast<TPDFDictionary>(store.Parse("<</A 1 0 R/B[2 0 R<</C 3 1 R>>]>>"));
    TPDFStream* s = store.CreateStream("");
    s->Dictionary()->Put("D", store.CreateRef(4, 0));
    TPDFIndRef* shared = store.CreateRef(5, 0);
    Cast<TPDFArray>(d->Get("B"))->Add(shared);
    Cast<TPDFArray>(d->Get("B"))->Add(shared);
    Cast<TPDFArray>(d->Get("B"))->Add(s);
    d->ShiftNumbers(10);
    auto target = [](const TPDFObject* v) {
        const TPDFIndRef* r = Cast<TPDFIndRef>(v);
        return r ? r->RefObjNum() : -1;
    };
    const TPDFArray* b = Cast<TPDFArray>(d->Get("B"));
    EXPECT_EQ(target(d->Get("A", false)), 11);
    EXPECT_EQ(target(b->Item(0)), 12);
    EXPECT_EQ(target(Cast<TPDFDictionary>(b->Item(1))->Get("C", false)), 13);
    EXPECT_EQ(target(s->Dictionary()->Get("D", false)), 14);
    EXPECT_EQ(target(shared), 15);
    EXPECT_EQ(Cast<TPDFIndRef>(d->Get("A", false))->RefGenNum(), 0);
    EXPECT_EQ(shared->ObjNum, 0) << "the indirect-object numbers stay";
}

TEST(ShiftNumbers, SelfHoldingAndDeepContainersTerminate) {
    TPDFStructure store;
    TPDFArray* top = store.CreateArray();
    top->Add(top);
    top->Add(store.CreateRef(1, 0));
    TPDFArray* cur = top;
    for (int i = 0; i < 200000; ++i) {
        TPDFArray* next = store.CreateArray();
        cur->Add(next);
        cur = next;
    }
    cur->Add(store.CreateRef(2147483647, 0));
    top->ShiftNumbers(1);
    EXPECT_EQ(Cast<TPDFIndRef>(top->Item(1))->RefObjNum(), 2);
    EXPECT_EQ(Cast<TPDFIndRef>(cur->Item(0))->RefObjNum(),
              std::numeric_limits<std::int32_t>::min());
}

TEST(IndRef, MarkIndirectKeepsTheTargetApart) {
    TPDFStructure store;
    TPDFIndRef* r = store.CreateRef(3, 1);
    r->MarkIndirect(20, 0);
    EXPECT_TRUE(r->IsIndirect);
    EXPECT_EQ(r->ObjNum, 20);
    EXPECT_EQ(r->RefObjNum(), 3);
    EXPECT_EQ(r->RefGenNum(), 1);
    EXPECT_EQ(r->ToText(), "3 1 R");
}

TEST(HoldsDirectly, ComparesIdentityNotContent) {
    TPDFStructure store;
    TPDFArray* a = Cast<TPDFArray>(store.Parse("[1]"));
    EXPECT_TRUE(a->HoldsDirectly(a->Item(0)));
    EXPECT_FALSE(a->HoldsDirectly(store.CreateNumber(1)));
    EXPECT_FALSE(store.CreateNumber(1)->HoldsDirectly(a));
    TPDFDictionary* d = Cast<TPDFDictionary>(store.Parse("<</K [1]>>"));
    EXPECT_TRUE(d->HoldsDirectly(d->EntryAt(0).first));
    EXPECT_FALSE(d->HoldsDirectly(Cast<TPDFArray>(d->Get("K"))->Item(0)));
}

// --- writing as text

TEST(ToText, ScalarsWriteAsTabled) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateNull()->ToText(), "null");
    EXPECT_EQ(store.CreateBoolean(true)->ToText(), "true");
    EXPECT_EQ(store.CreateBoolean(false)->ToText(), "false");
    EXPECT_EQ(store.CreateRef(12, 0)->ToText(), "12 0 R");
    EXPECT_EQ(store.CreateRef(-1, -2)->ToText(), "-1 -2 R");
}

TEST(ToText, NumbersWriteFourDecimalsCutWithZerosDropped) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateNumber(12)->ToText(), "12");
    EXPECT_EQ(store.CreateNumber(0.5)->ToText(), "0.5");
    EXPECT_EQ(store.CreateNumber(-3.25)->ToText(), "-3.25");
    EXPECT_EQ(store.CreateNumber(1.23456)->ToText(), "1.2345");
    EXPECT_EQ(store.CreateNumber(0)->ToText(), "0");
    EXPECT_EQ(store.CreateNumber(0.00000123)->ToText(), "0");
    EXPECT_EQ(store.CreateNumber(1e15)->ToText(), "0");
    EXPECT_EQ(store.CreateNumber(123.45678)->ToText(), "123.4567");
    EXPECT_EQ(store.CreateNumber(std::nan(""))->ToText(), "0");
    store.NumberDecimals = 0;
    EXPECT_EQ(store.CreateNumber(100.9)->ToText(), "100");
}

TEST(ToText, LiteralStringsEscapeControlsAndParentheses) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateString("a(b")->ToText(), "(a\\(b)");
    EXPECT_EQ(store.CreateString("\b\t\n\f\r)\\")->ToText(), "(\\b\\t\\n\\f\\r\\)\\\\)");
    EXPECT_EQ(store.CreateString(std::string("\0\x7F\xFF", 3))->ToText(),
              std::string("(\0\x7F\xFF)", 5));
}

TEST(ToText, HexStringsWriteUpperCaseDigits) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateString("\xAB\x01z", true)->ToText(), "<AB017A>");
    EXPECT_EQ(store.CreateString("", true)->ToText(), "<>");
}

TEST(ToText, NamesEscapeSpecialBytes) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateName("A B")->ToText(), "/A#20B");
    EXPECT_EQ(store.CreateName("#%()/<>[]{}")->ToText(), "/#23#25#28#29#2F#3C#3E#5B#5D#7B#7D");
    EXPECT_EQ(store.CreateName(std::string("\0\x7F\x80\xFF!~", 6))->ToText(), "/#00#7F#80#FF!~");
}

TEST(ToText, ArraysSeparateItemsWithSpaces) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateArray(std::vector<std::int32_t>{1, 2, 3})->ToText(), "[ 1 2 3 ]");
    EXPECT_EQ(store.CreateArray()->ToText(), "[ ]");
    TPDFArray* a = store.CreateArray();
    a->Add(store.CreateDictionary());
    a->Add(store.CreateNumber(1));
    EXPECT_EQ(a->ToText(), "[ <<\n>>\n1 ]") << "no space after a line feed";
}

TEST(ToText, LongArraysBreakAfterEightyCharacters) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray(std::vector<std::int32_t>(10, 1000000000));
    const std::string item = "1000000000 ";
    std::string expected = "[ ";
    for (int i = 0; i < 8; ++i)
        expected += item;
    expected += "\n" + item + item + "]";
    EXPECT_EQ(a->ToText(), expected);
}

TEST(ToText, DictionariesWriteOneEntryPerLine) {
    TPDFStructure store;
    TPDFDictionary* d = store.CreateDictionary();
    d->Put("Type", store.CreateName("Page"));
    EXPECT_EQ(d->ToText(), "<<\n/Type /Page\n>>\n");
    TPDFDictionary* inner = store.CreateDictionary();
    inner->Put("B", store.CreateNumber(1));
    d->Put("A", inner);
    d->PutEntry(store.CreateName("N"), nullptr);
    EXPECT_EQ(d->ToText(), "<<\n/Type /Page\n/A <<\n/B 1\n>>\n/N \n>>\n");
}

TEST(ToText, StreamsWriteDictionaryAndData) {
    TPDFStructure store;
    EXPECT_EQ(store.CreateStream("abc")->ToText(), "<<\n/Length 3\n>>\nstream\nabc\nendstream");
}

TEST(ToText, ContainersDeeperThanTheBoundWriteNull) {
    TPDFStructure store;
    TPDFArray* top = store.CreateArray();
    TPDFArray* cur = top;
    for (int i = 1; i < kMaxNesting + 1; ++i) {
        TPDFArray* next = store.CreateArray();
        cur->Add(next);
        cur = next;
    }
    const std::string text = top->ToText();
    EXPECT_NE(text.find("[ null ]"), std::string::npos);
    TPDFStructure other;
    const TPDFObject* back = other.Parse(text);
    int depth = 0;
    while (const TPDFArray* a = Cast<TPDFArray>(back)) {
        ++depth;
        back = a->Item(0);
    }
    EXPECT_EQ(depth, kMaxNesting);
    EXPECT_NE(Cast<TPDFNull>(back), nullptr);
}

TEST(ToText, ContainerHoldingItselfWritesNullThere) {
    TPDFStructure store;
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

TEST(ToText, VeryDeepHandBuiltChainWritesWithoutRecursingDeeply) {
    TPDFStructure store;
    TPDFArray* top = store.CreateArray();
    TPDFArray* cur = top;
    for (int i = 0; i < 200000; ++i) {
        TPDFArray* next = store.CreateArray();
        cur->Add(next);
        cur = next;
    }
    EXPECT_LT(top->ToText().size(), 6u * kMaxNesting);
}

// --- rectangles

TEST(Rectangle, SwapsRolesSoRightAndTopAreTheLargerEdges) {
    TPDFStructure store;
    TPDFArray* a = store.CreateArray(std::vector<std::int32_t>{612, 792, 0, 0});
    TPDFRectangle r(a);
    ASSERT_TRUE(r.IsValid());
    EXPECT_EQ(r.Left(), 0);
    EXPECT_EQ(r.Bottom(), 0);
    EXPECT_EQ(r.Right(), 612);
    EXPECT_EQ(r.Top(), 792);
    EXPECT_EQ(r.Width(), 612);
    EXPECT_EQ(r.Height(), 792);
    EXPECT_EQ(a->ToText(), "[ 612 792 0 0 ]") << "the array keeps its order";
}

TEST(Rectangle, EdgeCodesTakenModulo128) {
    TPDFStructure store;
    TPDFRectangle r(store.CreateArray(std::vector<double>{10, 20, 110, 220}));
    EXPECT_EQ(r.Edge(0), 10);
    EXPECT_EQ(r.Edge(1), 220);
    EXPECT_EQ(r.Edge(2), 100);
    EXPECT_EQ(r.Edge(3), 200);
    EXPECT_EQ(r.Edge(4), 110);
    EXPECT_EQ(r.Edge(5), 20);
    EXPECT_EQ(r.Edge(6), 0);
    EXPECT_EQ(r.Edge(129), 220);
    EXPECT_EQ(r.Edge(-1), 0);
}

TEST(Rectangle, OnlyFourNumbersMakeAValidRectangle) {
    TPDFStructure store;
    EXPECT_FALSE(TPDFRectangle(store.CreateArray(std::vector<std::int32_t>{1, 2, 3})).IsValid());
    EXPECT_FALSE(TPDFRectangle(store.Parse("[0 0 1 /A]")).IsValid());
    EXPECT_FALSE(TPDFRectangle(store.Parse("[0 0 1 2 3]")).IsValid());
    EXPECT_FALSE(TPDFRectangle(nullptr).IsValid());
    EXPECT_FALSE(TPDFRectangle(store.Parse("<</A 1>>")).IsValid());
    EXPECT_TRUE(TPDFRectangle(store.Parse("[0 0 1 2]")).IsValid());
}
