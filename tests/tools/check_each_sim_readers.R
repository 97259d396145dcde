# The per-simulation files of --each-sim read by R's ape, phangorn or adegenet, as they are.
# usage: Rscript check_each_sim_readers.R TOOL DIPLOID_DIR HAPLOID_DIR MSAT_DIR POLYTOMY_DIR
# (the working directories that check_each_sim_readers.py wrote).
args <- commandArgs(TRUE)
tool <- args[1]
runs <- list(diploid = list(dir = args[2], k = 12, diploid = TRUE),
             haploid = list(dir = args[3], k = 9, diploid = FALSE))
msatDir <- args[4]
polytomyDir <- args[5]
sites <- 600
loci <- 3

check <- function(ok, ...) if (!isTRUE(ok)) stop(paste0(...), call. = FALSE)

namesOf <- function(k, diploid) {
  p <- 0:(k - 1)
  if (diploid) paste0("ind", p %/% 2 + 1, c("a", "b")[p %% 2 + 1]) else paste0("ind", p + 1)
}

manifest <- function(folder) {
  m <- read.delim(file.path(folder, "manifest.tsv"), colClasses = "character")
  check(nrow(m) == 3, folder, ": the manifest lists ", nrow(m), " simulations")
  m
}

# The TMRCA of every simulation, from the run's summary table.
tmrcas <- function(dir) {
  t <- read.csv(file.path(dir, "outfile.csv"), check.names = FALSE, strip.white = TRUE)
  t[[2]]
}

if (tool == "ape") {
  suppressMessages(library(ape))
  for (run in names(runs)) {
    r <- runs[[run]]
    folder <- file.path(r$dir, "E")
    m <- manifest(folder)
    tm <- tmrcas(r$dir)
    want <- namesOf(r$k, r$diploid)
    for (s in seq_len(nrow(m))) {
      f <- function(column) file.path(folder, m[[column]][s])
      a <- read.dna(f("fasta"), format = "fasta", as.character = TRUE)
      check(identical(dim(a), c(as.integer(r$k), as.integer(sites))), run, s, ": fasta dims")
      check(identical(rownames(a), want), run, s, ": fasta names ", toString(rownames(a)))
      b <- read.dna(f("phylip"), format = "sequential", as.character = TRUE)
      check(identical(a, b), run, s, ": the PHYLIP file reads other than the FASTA file")
      n <- read.nexus.data(f("nexus"))
      check(identical(names(n), want), run, s, ": NEXUS names ", toString(names(n)))
      for (i in seq_along(want))
        check(identical(tolower(n[[i]]), a[i, , drop = TRUE] |> unname()),
              run, s, ": NEXUS sequence of ", want[i])
      t <- read.tree(f("tree"))
      check(Ntip(t) == r$k && setequal(t$tip.label, want), run, s, ": tree tips")
      check(is.binary(t) && is.rooted(t), run, s, ": a rooted binary genealogy")
      # Branch lengths in generations: every tip lies TMRCA generations below the root.
      depth <- node.depth.edgelength(t)[seq_len(Ntip(t))]
      check(all(depth == tm[s]), run, s, ": tip depths ", toString(unique(depth)),
            " but TMRCA ", tm[s])
    }
    cat(sprintf("ape read %d simulations (%s): read.dna fasta and sequential, read.nexus.data, read.tree agree\n",
                nrow(m), run))
  }
  # Under --mergers all a merge of m lineages is m - 1 rows of one generation and position in
  # TreeMatFile.txt, and one node of m children in the tree, with no branch of length 0.
  lines <- readLines(file.path(polytomyDir, "TreeMatFile.txt"))
  records <- split(lines[!startsWith(lines, "#")], cumsum(startsWith(lines, "#"))[!startsWith(lines, "#")])
  folder <- file.path(polytomyDir, "E")
  m <- manifest(folder)
  tm <- tmrcas(polytomyDir)
  widest <- 0
  for (s in seq_len(nrow(m))) {
    rows <- do.call(rbind, lapply(strsplit(trimws(records[[s]]), " "), as.integer))
    key <- paste(rows[, 1], rows[, 2])
    groups <- rle(key)$lengths
    t <- read.tree(file.path(folder, m$tree[s]))
    check(Ntip(t) == 12 && setequal(t$tip.label, namesOf(12, FALSE)), "polytomy ", s, ": tips")
    children <- tabulate(t$edge[, 1])[Ntip(t) + seq_len(Nnode(t))]
    # ape takes a root of three or more children for an unrooted tree's basal node.
    check((is.rooted(t) || children[1] > 2) && all(t$edge.length > 0), "polytomy ", s,
          ": rooted, no zero branch")
    check(identical(sort(children), sort(as.integer(groups + 1))), "polytomy ", s,
          ": children per node ", toString(sort(children)), " but merges of ",
          toString(sort(groups + 1)))
    depth <- node.depth.edgelength(t)[seq_len(Ntip(t))]
    check(all(depth == tm[s]), "polytomy ", s, ": tip depths ", toString(unique(depth)))
    widest <- max(widest, children)
  }
  check(widest >= 3, "no merge of three or more lineages in the polytomy run")
  cat(sprintf("ape read %d trees of --mergers all: nodes of up to %d children, as TreeMatFile.txt merges\n",
              nrow(m), widest))
} else if (tool == "phangorn") {
  suppressMessages({library(ape); library(phangorn)})
  set.seed(5)
  rf <- c(); rfShuffled <- c()
  for (run in names(runs)) {
    r <- runs[[run]]
    folder <- file.path(r$dir, "E")
    m <- manifest(folder)
    want <- namesOf(r$k, r$diploid)
    for (s in seq_len(nrow(m))) {
      f <- function(column) file.path(folder, m[[column]][s])
      p <- read.phyDat(f("fasta"), format = "fasta")
      check(identical(names(p), want), run, s, ": phyDat names ", toString(names(p)))
      for (other in c("phylip", "nexus")) {
        q <- read.phyDat(f(other), format = other)
        check(identical(as.character(q), as.character(p)), run, s, ": ", other, " phyDat")
      }
      truth <- read.tree(f("tree"))
      nj <- NJ(dist.ml(p))
      # No relabelling: the true tree and the inferred one share their names.
      d <- RF.dist(truth, nj, normalize = TRUE, rooted = FALSE)
      check(is.finite(d) && d >= 0 && d <= 1, run, s, ": RF.dist ", d)
      rf <- c(rf, d)
      shuffled <- truth
      shuffled$tip.label <- sample(truth$tip.label)
      rfShuffled <- c(rfShuffled, RF.dist(shuffled, nj, normalize = TRUE, rooted = FALSE))
    }
  }
  cat(sprintf("phangorn RF.dist(true tree, NJ tree): mean %.3f over %d simulations (labels shuffled: %.3f)\n",
              mean(rf), length(rf), mean(rfShuffled)))
  # The sequences are those of the tree's tips: the NJ tree is far closer to the truth than
  # to the same tree with its names shuffled.
  check(mean(rf) < 0.5 && mean(rf) < mean(rfShuffled) - 0.3, "the NJ trees do not fit the true trees")
} else if (tool == "adegenet") {
  suppressMessages(library(adegenet))
  lines <- readLines(file.path(msatDir, "MsatData.csv"))
  starts <- which(lines == "POP")
  folder <- file.path(msatDir, "G")
  m <- manifest(folder)
  for (s in seq_len(nrow(m))) {
    x <- read.genepop(file.path(folder, m$genepop[s]), ncode = 3, quiet = TRUE)
    check(nInd(x) == 4 && nLoc(x) == loci && nPop(x) == 1, s, ": individuals, loci, Pop")
    check(identical(indNames(x), paste0("ind", 1:4)), s, ": names ", toString(indNames(x)))
    check(identical(locNames(x), paste0("locus", 1:loci)), s, ": loci ", toString(locNames(x)))
    got <- genind2df(x, sep = "/")
    # The run's own genotype table: "   i ,  aaabbb cccddd ..." per individual.
    for (i in 1:4) {
      codes <- strsplit(trimws(sub("^[^,]*,", "", lines[starts[s] + i])), " +")[[1]]
      for (l in 1:loci) {
        table <- sort(c(substr(codes[l], 1, 3), substr(codes[l], 4, 6)))
        read <- sort(strsplit(got[i, paste0("locus", l)], "/")[[1]])
        check(identical(table, read), s, ": individual ", i, " locus ", l, ": ",
              toString(read), " but the table has ", toString(table))
      }
    }
  }
  cat(sprintf("adegenet read.genepop read %d GenePop files: the genotypes of the genotype table\n",
              nrow(m)))
} else {
  stop("unknown tool ", tool)
}
