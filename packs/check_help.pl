#!/usr/bin/perl
# Checks the sources of a help file before it is compiled:
#   - the project names its contents, index and start topic, and they exist;
#   - every file that a page, the contents or the index refers to exists and is listed in the
#     project's [FILES] (a file not listed there is missing from the compiled help);
#   - every "#anchor" refers to an id or name in its page;
#   - every page of the folder is reachable from the contents, directly or through links;
#   - each file's bytes match the character set it declares (UTF-8 or Windows-1252).
# Usage: check_help.pl <help folder> [<help folder of another language>...]
# With several folders, they must also hold the same pages. Exits 1 and names every fault.
use strict;
use warnings;

my @faults;
sub fault { push @faults, join('', @_); }

sub slurp {
  my ($path) = @_;
  open(my $fh, '<:raw', $path) or return undef;
  local $/;
  my $text = <$fh>;
  close $fh;
  return $text;
}

# A path relative to the help folder, with "/" separators, "." and ".." resolved; lower case,
# since the compiled help finds its files without regard to letter case.
sub normal {
  my ($base, $ref) = @_;
  my @parts = split m{/}, ($base eq '' ? $ref : "$base/$ref");
  my @out;
  for my $p (@parts) {
    next if $p eq '' || $p eq '.';
    if ($p eq '..') { pop @out; next; }
    push @out, $p;
  }
  return lc join('/', @out);
}

sub dir_of { my ($p) = @_; return $p =~ m{^(.*)/[^/]*$} ? $1 : ''; }

sub check_charset {
  my ($name, $text) = @_;
  my ($declared) = $text =~ /charset\s*=\s*["']?([\w-]+)/i;
  return unless defined $declared;
  $declared = lc $declared;
  if ($declared eq 'utf-8') {
    my $copy = $text;
    fault("$name: declared UTF-8 but is not valid UTF-8") unless utf8::decode($copy);
  } elsif ($declared eq 'windows-1252' || $declared eq 'iso-8859-1') {
    # A letter such as "ü" saved as UTF-8 shows as two characters in a Windows-1252 page.
    fault("$name: declared $declared but holds UTF-8 sequences") if $text =~ /[\xC2-\xC3][\x80-\xBF]/;
  } else {
    fault("$name: unexpected character set $declared");
  }
}

sub check_folder {
  my ($dir) = @_;
  my $hhp = (glob("$dir/*.hhp"))[0];
  unless ($hhp) { fault("$dir: no .hhp project"); return (); }
  my $project = slurp($hhp);
  my %opt;
  my %listed;
  my $section = '';
  for my $line (split /\r?\n/, $project) {
    if ($line =~ /^\[(\w+)\]/) { $section = uc $1; next; }
    next if $line =~ /^\s*(;|$)/;
    if ($section eq 'OPTIONS' && $line =~ /^([^=]+)=(.*)$/) { $opt{lc $1} = $2; }
    if ($section eq 'FILES') { (my $f = $line) =~ s{\\}{/}g; $listed{normal('', $f)} = 1; }
  }
  for my $key ('contents file', 'index file', 'default topic') {
    fault("$hhp: no '$key'") unless $opt{$key};
  }

  # Every file of the folder, by normal name.
  my %present;
  my @stack = ('');
  while (defined(my $rel = pop @stack)) {
    my $full = $rel eq '' ? $dir : "$dir/$rel";
    opendir(my $dh, $full) or next;
    for my $e (readdir $dh) {
      next if $e eq '.' || $e eq '..';
      my $r = $rel eq '' ? $e : "$rel/$e";
      if (-d "$dir/$r") { push @stack, $r; } else { $present{lc $r} = $r; }
    }
    closedir $dh;
  }

  my %pages = map { $_ => 1 } grep { /\.html?$/ } keys %present;
  my (%links, %anchors);  # links: page -> [[target, anchor, where]]
  for my $page (sort keys %pages) {
    my $text = slurp("$dir/$present{$page}");
    check_charset($present{$page}, $text);
    $anchors{$page}{lc $1} = 1 while $text =~ /\b(?:id|name)\s*=\s*["']([^"']+)["']/gi;
    while ($text =~ /\b(?:href|src)\s*=\s*["']([^"']*)["']/gi) {
      my $ref = $1;
      next if $ref =~ m{^(?:https?|mailto|ms-its|mk):}i;
      if ($ref =~ m{^[a-z]+:}i) { fault("$present{$page}: link with a scheme: $ref"); next; }
      my ($file, $anchor) = split /#/, $ref, 2;
      my $target = $file eq '' ? $page : normal(dir_of($page), $file);
      push @{$links{$page}}, [$target, $anchor, $ref];
    }
  }

  # The sitemaps: their entries are the roots of reachability (contents) or must exist (index).
  my %roots;
  for my $key ('contents file', 'index file') {
    next unless $opt{$key};
    my $name = $opt{$key};
    my $text = slurp("$dir/$name");
    unless (defined $text) { fault("$hhp: $key $name does not exist"); next; }
    check_charset($name, $text);
    my $count = 0;
    while ($text =~ /<param\s+name\s*=\s*"Local"\s+value\s*=\s*"([^"]*)"/gi) {
      my ($file, $anchor) = split /#/, $1, 2;
      my $target = normal('', $file);
      ++$count;
      push @{$links{"<$name>"}}, [$target, $anchor, $1];
      $roots{$target} = 1 if $key eq 'contents file';
    }
    fault("$name: no entries") unless $count;
  }
  if ($opt{'default topic'}) {
    my $start = normal('', $opt{'default topic'});
    fault("$hhp: default topic $opt{'default topic'} does not exist") unless $present{$start};
    fault("$hhp: default topic $opt{'default topic'} is not in the contents") unless $roots{$start};
  }

  for my $from (sort keys %links) {
    for my $l (@{$links{$from}}) {
      my ($target, $anchor, $ref) = @$l;
      my $where = $present{$from} // $from;
      if (!$present{$target}) { fault("$where: broken link $ref"); next; }
      fault("$where: $ref is not listed in [FILES] of the project") unless $listed{$target};
      if (defined $anchor && $anchor ne '' && !$anchors{$target}{lc $anchor}) {
        fault("$where: broken anchor $ref");
      }
    }
  }
  for my $f (sort keys %listed) {
    fault("$hhp: [FILES] lists $f, which does not exist") unless $present{$f};
  }

  # Reachability: from the contents' entries along the pages' links.
  my %seen;
  my @todo = keys %roots;
  while (defined(my $p = pop @todo)) {
    next if $seen{$p}++;
    push @todo, map { $_->[0] } @{$links{$p} // []};
  }
  for my $page (sort keys %pages) {
    fault("$present{$page}: not reachable from the contents") unless $seen{$page};
  }
  return map { $present{$_} } keys %pages;
}

my @dirs = @ARGV or die "usage: check_help.pl <help folder>...\n";
my %sets;
for my $dir (@dirs) {
  $sets{$dir} = join("\n", sort map { lc } check_folder($dir));
}
for my $dir (@dirs[1 .. $#dirs]) {
  fault("$dir: does not hold the same pages as $dirs[0]") if $sets{$dir} ne $sets{$dirs[0]};
}
if (@faults) {
  print STDERR "$_\n" for @faults;
  exit 1;
}
print "help sources checked: ", scalar(@dirs), " folder(s), no faults\n";
exit 0;
