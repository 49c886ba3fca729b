// Only here so that the precompiled header the test programs share has a
// target of its own to be built in.
