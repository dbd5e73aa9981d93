#include "uEnumeratorImpl.h"

#include <algorithm>

namespace kelvora {

void TEnumerator::First() { FCounter = FList.empty() ? -1 : 0; }

void TEnumerator::Next() { ++FCounter; }

bool TEnumerator::Eof() { return FCounter < 0 || FCounter > Count() - 1; }

IInterfacePtr TEnumerator::Current() { return GetItem(FCounter); }

void TEnumerator::Add(const IInterfacePtr& Item) { FList.push_back(Item); }

void TEnumerator::Remove(const IInterfacePtr& Item)
{
    auto It =
        std::find_if(FList.begin(), FList.end(), [&](const IInterfacePtr& Entry) { return Entry.get() == Item.get(); });
    if (It != FList.end())
        FList.erase(It);
}

int32_t TEnumerator::Count() { return static_cast<int32_t>(FList.size()); }

IInterfacePtr TEnumerator::GetItem(int32_t Index)
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return FList[Index];
}

bool TEnumerator::Exchange(int32_t Index1, int32_t Index2)
{
    if (Index1 < 0 || Index1 >= Count() || Index2 < 0 || Index2 >= Count())
        return false;
    std::swap(FList[Index1], FList[Index2]);
    return true;
}

void TEnumerator::Clear() { FList.clear(); }

} // namespace kelvora
