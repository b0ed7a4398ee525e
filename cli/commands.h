#pragma once

class Session;

// Each command answers the program's exit status.
int runCreate(Session& session);
int runList(Session& session);
int runExtract(Session& session);
int runAdd(Session& session);
int runMerge(Session& session);
int runDelete(Session& session);
int runRename(Session& session);
int runRepack(Session& session);
int runCheck(Session& session);
int runDiff(Session& session);
