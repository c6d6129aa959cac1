// Transcendental functions for the content tool built from + - * / and sqrt only, which IEEE 754 rounds
// the same way everywhere. The C library's exp/sin/cos may differ in the last bit between library
// versions, or between a compile-time folded call and a run-time one; the generated files must not.
// Accuracy is a few units in the last place of a double, far more than the float32 output keeps.
#pragma once

namespace Content {

double detExp(double x);
double detLog(double x); // x > 0
double detSin(double x);
double detCos(double x);

double clamp01(double x);
double smoothstep(double edge0, double edge1, double x);

constexpr double pi = 3.14159265358979323846;

} // namespace Content
