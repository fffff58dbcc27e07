#pragma once
// The units of the host library that have a start-up, as packages list them in their unit tables:
// each with its start-up and shut-down and one counter, kept here, so a unit that several packages
// start runs its start-up for the first of them only.
struct TUnitEntry {
    const char* Name;
    void (*Init)();
    void (*FInit)();
    int* Counter;
};

// The host library's entry for a unit; raises EComponentError for a unit it does not have.
const TUnitEntry& HostUnit(const char* name);
