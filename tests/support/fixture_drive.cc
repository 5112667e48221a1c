// Fixture drives for Windows tests: filled in separately.
