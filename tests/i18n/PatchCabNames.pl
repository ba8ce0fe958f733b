#!/usr/bin/perl
# Rewrites stored names of a cabinet in place, keeping their lengths:
# "aa\" becomes "..\", "Zz\" becomes "C:\", "qq\" becomes "\x\".
use strict;
use warnings;
my $file = shift or die "usage: PatchCabNames.pl file.cab\n";
open(my $in, '<:raw', $file) or die "$file: $!\n";
my $data = do { local $/; <$in> };
close($in);
$data =~ s/aa\\evil/..\\evil/ or die "no aa\\evil\n";
$data =~ s/Zz\\drive/C:\\drive/ or die "no Zz\\drive\n";
$data =~ s/qq\\rooted/\\x\\rooted/ or die "no qq\\rooted\n";
open(my $out, '>:raw', $file) or die "$file: $!\n";
print $out $data;
close($out);
