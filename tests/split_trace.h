#pragma once
// The trace of the splitting for three terms, node (0, 3]: children before
// parents, left before right, g lines only off the rightmost path. The values
// are the leaves' closed forms and their products and sums.

static const char SPLIT_TRACE_0_3[] =
    "p(0,1)=10939058860032000\n"
    "q(0,1)=-2793657715\n"
    "g(0,1)=5\n"
    "p(1,2)=87512470880256000\n"
    "q(1,2)=254994357387\n"
    "g(1,2)=231\n"
    "p(2,3)=295354589220864000\n"
    "q(2,3)=-1822158051155\n"
    "p(1,3)=25847209888540833463280861184000000\n"
    "q(1,3)=75313753679675151774412551195\n"
    "p(0,3)=282744150338349327484720295874090277797888000000000\n"
    "q(0,3)=-72208257316346012928456348682766762497244025\n";
