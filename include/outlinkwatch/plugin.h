// The three plain-named entry points of the plug-in library.
#pragma once

#include <string>

#include "outlinkwatch/export.h"
#include "outlinkwatch/interfaces.h"
#include "outlinkwatch/records.h"

// Stores the address of the one static ComponentInfo; returns 1.
OW_EXTERN_C int GetInterfaceList(ComponentInfo** ppInfo);

// Creates a policy for "IPolicy" (exact); null for any other name.
OW_EXTERN_C IPolicy* CreateObject(const char* pszInterface, ICommonControl** ppControl,
                                  InterfaceEntry* pEntry);

// The plug-in supports no extra commands: always -1.
OW_EXTERN_C int QuerySupportedCommand(std::string command);

// Function types for agents that resolve the entry points at run time.
typedef int (*PFN_GetInterfaceList)(ComponentInfo**);
typedef IPolicy* (*PFN_CreateObject)(const char*, ICommonControl**, InterfaceEntry*);
typedef int (*PFN_QuerySupportedCommand)(std::string);
